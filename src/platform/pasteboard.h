#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zavren {

// MIME type of plain text on the clipboard; UTF-8.
inline const std::string PASTEBOARD_TEXT_TYPE = "text/plain";

// The clipboard as a set of formats (MIME type -> bytes).
class Pasteboard {
  public:
    using Formats = std::map<std::string, std::string>;

    virtual ~Pasteboard() = default;
    // The types on offer now; reading them may ask another application.
    virtual std::vector<std::string> types() = 0;
    virtual std::optional<std::string> data(const std::string& type) = 0;
    // Replaces the whole content; empty formats leave the clipboard empty. A
    // transcript is marked so clipboard managers and password-aware tools keep
    // it out of their history.
    virtual void set(const Formats& formats, bool transcript) = 0;
    // Called on the main thread once another application has fetched text from
    // the transcript set last.
    virtual void onFetched(std::function<void()> handler) = 0;
    // A number that differs whenever the content may have changed since it was
    // last read; absent where the platform cannot tell.
    virtual std::optional<std::uint64_t> changeCount() { return std::nullopt; }
};

}  // namespace zavren
