#include "update/update_base.h"

#include "shared/url.h"
#include "zavren/build_config.h"

namespace zavren {

UpdateBase resolveUpdateBase(const std::optional<std::string>& envValue) {
    if (!envValue) return {ZAVREN_UPDATE_BASE_DEFAULT, std::nullopt};
    if (isHttpUrl(*envValue)) return {*envValue, std::nullopt};
    return {ZAVREN_UPDATE_BASE_DEFAULT, "ZAVREN_UPDATE_BASE 不是 http(s) 地址(\"" + *envValue +
                                            "\"),改用默认地址 " + ZAVREN_UPDATE_BASE_DEFAULT};
}

}  // namespace zavren
