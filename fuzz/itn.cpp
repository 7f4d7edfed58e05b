// The written form of any transcript: text that is not UTF-8 comes back as it
// was, anything else comes back as UTF-8 and not much longer (spoken numbers
// only ever get shorter in digits). A numeral's value is never negative or past
// the documented ceiling.
#include "text/itn.h"
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto text = fuzz::bytes(data, size);
    const std::string out = zavren::ITN::apply(text);
    if (!fuzz::validUtf8(text)) {
        FUZZ_CHECK(out == text);
    } else {
        FUZZ_CHECK(fuzz::validUtf8(out));
        FUZZ_CHECK(out.size() <= 2 * text.size() + 16);
    }
    if (auto value = zavren::ITN::parseValue(text)) {
        FUZZ_CHECK(*value >= 0 && *value <= 1'000'000'000'000);
    }
    return 0;
}
