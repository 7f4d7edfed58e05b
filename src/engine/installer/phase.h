#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>

namespace zavren {

// What the installer is doing, as the first-run window shows it.
struct InstallPhase {
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    struct Manifest {
        bool operator==(const Manifest&) const = default;
    };
    struct Downloading {
        std::int64_t received = 0;
        std::int64_t total = 0;
        bool operator==(const Downloading&) const = default;
    };
    struct Verifying {
        bool operator==(const Verifying&) const = default;
    };
    struct Extracting {
        bool operator==(const Extracting&) const = default;
    };
    struct Done {
        bool operator==(const Done&) const = default;
    };
    struct Failed {
        std::string message;
        bool operator==(const Failed&) const = default;
    };
    using Value = std::variant<Idle, Manifest, Downloading, Verifying, Extracting, Done, Failed>;

    Value value = Idle{};

    bool operator==(const InstallPhase&) const = default;
    template <class T>
    bool is() const {
        return std::holds_alternative<T>(value);
    }
    template <class T>
    const T* get() const {
        return std::get_if<T>(&value);
    }
};

// What the first-run window and the menu need of the engine installer: its
// published phase (observers run on the main thread after each change) and start().
class InstallerHandle {
  public:
    using Subscription = std::shared_ptr<void>;
    virtual ~InstallerHandle() = default;
    virtual const InstallPhase& phase() const = 0;
    [[nodiscard]] virtual Subscription subscribe(std::function<void()> observer) = 0;
    // Begins or retries an installation; does nothing while an attempt is running.
    virtual void start() = 0;
};

// A byte count as "%.0f MB" of bytes / 1,048,576: 1,572,864 gives "2 MB".
std::string fmtMB(std::int64_t bytes);

}  // namespace zavren
