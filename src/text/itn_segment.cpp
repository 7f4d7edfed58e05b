#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <limits>

#include "text/itn_text.h"

namespace zavren::ITN::detail {

namespace {

// Opening a character break iterator loads its rules; one per thread is reused,
// which keeps short transcripts cheap and needs no locking.
class ThreadIterator {
  public:
    ~ThreadIterator() {
        if (iter_ != nullptr) ubrk_close(iter_);
    }
    UBreakIterator* get() {
        if (iter_ == nullptr) {
            UErrorCode status = U_ZERO_ERROR;
            UBreakIterator* it = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
            if (U_FAILURE(status)) {
                if (it != nullptr) ubrk_close(it);
                return nullptr;
            }
            iter_ = it;
        }
        return iter_;
    }

  private:
    UBreakIterator* iter_ = nullptr;
};

}  // namespace

bool segment(std::string_view text, Chars& out) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return false;
    thread_local ThreadIterator holder;
    UBreakIterator* it = holder.get();
    if (it == nullptr) return false;

    UErrorCode status = U_ZERO_ERROR;
    UText ut = UTEXT_INITIALIZER;
    utext_openUTF8(&ut, text.data(), static_cast<std::int64_t>(text.size()), &status);
    ubrk_setUText(it, &ut, &status);
    if (U_FAILURE(status)) {
        utext_close(&ut);
        return false;
    }
    std::int32_t start = ubrk_first(it);
    for (std::int32_t end = ubrk_next(it); end != UBRK_DONE; start = end, end = ubrk_next(it)) {
        const auto b = static_cast<std::size_t>(start);
        out.push_back(classify(text.substr(b, static_cast<std::size_t>(end) - b)));
    }
    utext_close(&ut);
    return static_cast<std::size_t>(start) == text.size();
}

}  // namespace zavren::ITN::detail
