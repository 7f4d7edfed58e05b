// Two walks over a WAV header: the check that refuses a file before it is sent
// and the search for the first sample byte. They must agree on any file the
// check lets through, and neither may point past the bytes it was given.
#include "check.h"
#include "cli/wav_check.h"
#include "dictation/wav.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto b = fuzz::bytes(data, size);
    const auto offset = zavren::findDataOffset(b);
    if (offset) {
        FUZZ_CHECK(zavren::isRiffWave(b));
        FUZZ_CHECK(*offset >= 20 && static_cast<std::size_t>(*offset) <= b.size() &&
                   static_cast<std::size_t>(*offset) <= zavren::WAV_HEADER_SEARCH);
    }
    if (auto problem = zavren::cli::wavProblem(b)) {
        FUZZ_CHECK(fuzz::validUtf8(*problem));
    } else {
        FUZZ_CHECK(zavren::isRiffWave(b));
        // Samples follow the first "data" chunk, at least one of them.
        if (b.size() <= zavren::WAV_HEADER_SEARCH)
            FUZZ_CHECK(offset && static_cast<std::size_t>(*offset) + 2 <= b.size());
    }
    return 0;
}
