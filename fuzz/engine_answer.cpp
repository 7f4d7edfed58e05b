// Both engine answer flavours: whatever the engine sends, a text we accept is
// valid UTF-8 (it is pasted into the user's application) and no longer than the
// answer it came from.
#include "check.h"
#include "dictation/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto body = fuzz::bytes(data, size);
    for (auto parse : {zavren::parseLlamaText, zavren::parsePlainText}) {
        if (auto text = parse(body)) {
            FUZZ_CHECK(fuzz::validUtf8(*text));
            FUZZ_CHECK(text->size() <= body.size());
        }
    }
    return 0;
}
