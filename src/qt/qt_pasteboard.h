#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <functional>
#include <vector>

#include "platform/pasteboard.h"

namespace zavren {

// The CLIPBOARD selection, and PRIMARY under X11. Transcripts on their way are
// marked as secrets so clipboard managers that honour the hint do not keep them in
// their history. Under X11 it watches the selection requests other applications
// send us, to tell when the transcript was fetched; elsewhere that notice never
// comes. Qt answers those requests itself: a native event filter sees each one
// just before, which is all we need, so no selection owner of our own.
class QtPasteboard : public QObject, public Pasteboard, public QAbstractNativeEventFilter {
  public:
    static constexpr const char* PASSWORD_HINT_TYPE = "x-kde-passwordManagerHint";
    static constexpr const char* TRANSIENT_TYPE = "org.nspasteboard.TransientType";

    QtPasteboard();
    ~QtPasteboard() override;

    std::vector<std::string> types() override;
    std::optional<std::string> data(const std::string& type) override;
    void set(const Formats& formats, Content content) override;
    bool hasPrimary() override;
    void setPrimary(const std::string& text) override;
    void onFetched(std::function<void()> handler) override;
    std::optional<std::uint64_t> changeCount() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    std::function<void()> fetched_;
    bool holdsTranscript_ = false;
    // PRIMARY counts only while it holds the transcript now on the clipboard.
    bool primaryWatched_ = false;
    unsigned clipboardAtom_ = 0;
    std::vector<unsigned> textTargets_;
    std::uint64_t changes_ = 0;
    unsigned owner_ = 0;
};

}  // namespace zavren
