// Both engine answer flavours: whatever the engine sends, a text we accept is
// valid UTF-8 (it is pasted into the user's application) and no longer than the
// answer it came from. The chat flavour trims white space at both ends.
#include "check.h"
#include "dictation/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto body = fuzz::bytes(data, size);
    const auto chat = zavren::parseLlamaText(body);
    const auto plain = zavren::parsePlainText(body);
    for (const auto* text : {&chat, &plain}) {
        if (!*text) continue;
        FUZZ_CHECK(fuzz::validUtf8(**text));
        FUZZ_CHECK((*text)->size() <= body.size());
    }
    if (chat && !chat->empty()) {
        const std::string_view blanks = " \t\n\v\f\r";
        FUZZ_CHECK(blanks.find(chat->front()) == std::string_view::npos &&
                   blanks.find(chat->back()) == std::string_view::npos);
    }
    return 0;
}
