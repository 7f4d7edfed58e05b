#include "engine/installer/phase.h"

#include <cstdio>

namespace zavren {

std::string fmtMB(std::int64_t bytes) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.0f MB", static_cast<double>(bytes) / 1048576.0);
    return buf;
}

}  // namespace zavren
