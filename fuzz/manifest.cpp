// The engine manifest comes from the downloads server: decoding never throws,
// and the archive a record picks for a platform is the one it lists for it.
// (A negative size decodes; the installer refuses it.)
#include "engine/manifest.h"
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto m = zavren::EngineManifest::decode(fuzz::bytes(data, size));
    if (!m) return 0;
    FUZZ_CHECK(fuzz::validUtf8(m->url) && fuzz::validUtf8(m->sha256) &&
               fuzz::validUtf8(m->version));
    if (m->platforms) {
        for (const auto& [key, asset] : *m->platforms) {
            const auto picked = m->effective(key);
            FUZZ_CHECK(picked.url == asset.url && picked.sha256 == asset.sha256 &&
                       picked.size == asset.size);
        }
    }
    const std::string unlisted = "\x01 unlisted";
    if (!m->platforms || !m->platforms->count(unlisted)) {
        const auto fallback = m->effective(unlisted);
        FUZZ_CHECK(fallback.url == m->url && fallback.size == m->size);
    }
    return 0;
}
