#include "x11/wm_class.h"

namespace zavren {

WmClass parseWmClass(std::string_view raw) {
    WmClass out;
    auto nul = raw.find('\0');
    out.instance = std::string(raw.substr(0, nul));
    if (nul == std::string_view::npos) return out;
    raw.remove_prefix(nul + 1);
    out.className = std::string(raw.substr(0, raw.find('\0')));
    return out;
}

}  // namespace zavren
