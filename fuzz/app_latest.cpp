// The update record comes from the downloads server: decoding must never throw,
// and what we accept must read back unchanged from our own encoding.
#include "update/app_latest.h"
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto latest = zavren::AppLatest::decode(fuzz::bytes(data, size));
    if (!latest) return 0;
    const auto again = zavren::AppLatest::decode(latest->encode());
    FUZZ_CHECK(again && *again == *latest);
    return 0;
}
