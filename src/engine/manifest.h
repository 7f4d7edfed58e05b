#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "shared/constants.h"

namespace zavren {

// The published record naming the engine archive to download, its size and digest,
// optionally per architecture.
struct EngineManifest {
    struct PlatformAsset {
        std::string url;
        std::string sha256;
        std::int64_t size = 0;
        bool operator==(const PlatformAsset&) const = default;
    };

    // The archive this build downloads.
    struct Asset {
        std::string url;
        std::string sha256;
        std::int64_t size = 0;
        bool operator==(const Asset&) const = default;
    };

    std::string version;
    std::string url;
    std::string sha256;
    std::int64_t size = 0;
    std::optional<std::map<std::string, PlatformAsset>> platforms;

    bool operator==(const EngineManifest&) const = default;

    // Strict decoding: every required key present with the right type (sizes are
    // whole numbers within 64 bits, never strings), every "platforms" entry complete,
    // no key given twice in one object. Unknown keys are ignored; "platforms" absent
    // or null means none. Anything else yields nullopt; never throws.
    static std::optional<EngineManifest> decode(std::string_view json);

    // The entry for archKey when "platforms" has one, else the top-level fields.
    Asset effective(const std::string& archKey = ENGINE_ARCH) const;
};

}  // namespace zavren
