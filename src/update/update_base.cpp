#include "update/update_base.h"

#include <cstdlib>

#include "update/url.h"
#include "zavren/build_config.h"

namespace zavren {

std::string resolveUpdateBase(const std::optional<std::string>& envValue) {
    if (envValue && isHttpUrl(*envValue)) return *envValue;
    return ZAVREN_UPDATE_BASE_DEFAULT;
}

const std::string& updateBase() {
    static const std::string base = [] {
        const char* v = std::getenv("ZAVREN_UPDATE_BASE");
        return resolveUpdateBase(v ? std::optional<std::string>(v) : std::nullopt);
    }();
    return base;
}

}  // namespace zavren
