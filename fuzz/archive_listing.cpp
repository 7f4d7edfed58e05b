// The archive listing describes what a downloaded archive would write. A listing
// we pass must not name anything outside the engine folder, whatever the
// archive's names and link targets hold.
#include <algorithm>
#include <string>

#include "check.h"
#include "engine/installer/archive_listing.h"

namespace {

bool hasDotDot(const std::string& path) {
    std::size_t start = 0;
    for (;;) {
        const auto end = path.find('/', start);
        if (path.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") ==
            0)
            return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string listing(fuzz::bytes(data, size));
    const auto members = zavren::parseTarListing(listing);
    if (!members) return 0;
    FUZZ_CHECK(members->size() <=
               static_cast<std::size_t>(std::count(listing.begin(), listing.end(), '\n')) + 1);
    if (zavren::unsafeMember(*members)) return 0;
    for (const auto& m : *members) {
        FUZZ_CHECK(m.type == '-' || m.type == 'd' || m.type == 'l' || m.type == 'h' ||
                   m.type == 'C');
        FUZZ_CHECK(!m.name.empty() && m.name.front() != '/' && !hasDotDot(m.name));
        if (m.type == 'l' || m.type == 'h')
            FUZZ_CHECK(!m.linkTarget.empty() && m.linkTarget.front() != '/');
        if (m.type == 'h') FUZZ_CHECK(!hasDotDot(m.linkTarget));
    }
    return 0;
}
