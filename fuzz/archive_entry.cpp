// Whatever names, types and link targets an archive's headers claim, a member the
// checker lets through stays inside the engine folder, even once that folder is
// moved, and is never written through a link an earlier member made.
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "engine/installer/archive_entry.h"

namespace {

using zavren::ArchiveEntry;

std::vector<std::string> parts(const std::string& path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (!part.empty() && part != ".") out.push_back(part);
        start = end + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& p, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += (i ? "/" : "") + p[i];
    return out;
}

// One record a line: a type byte, the name, a tab, the link target.
ArchiveEntry entryOf(std::string_view record) {
    ArchiveEntry e;
    if (record.empty()) return e;
    e.type = static_cast<ArchiveEntry::Type>(static_cast<unsigned char>(record[0]) % 5);
    record.remove_prefix(1);
    const auto tab = record.find('\t');
    e.name = std::string(record.substr(0, tab));
    if (tab != std::string_view::npos) e.linkTarget = std::string(record.substr(tab + 1));
    e.size = static_cast<std::int64_t>(record.size()) - 8;
    return e;
}

void checkAccepted(const ArchiveEntry& e) {
    using T = ArchiveEntry::Type;
    FUZZ_CHECK(e.type == T::regular || e.type == T::directory || e.type == T::symlink);
    FUZZ_CHECK(e.size >= 0);
    FUZZ_CHECK(!e.name.empty() && e.name.front() != '/');
    FUZZ_CHECK(e.name.find('\0') == std::string::npos);
    const auto p = parts(e.name);
    for (const auto& part : p) FUZZ_CHECK(part != "..");
    if (e.type != T::symlink) return;
    FUZZ_CHECK(!e.linkTarget.empty() && e.linkTarget.front() != '/');
    // Read as text from the link's folder, the target never climbs out of the top folder.
    FUZZ_CHECK(p.size() >= 2);
    std::vector<std::string> at(p.begin(), p.end() - 1);
    for (const auto& step : parts(e.linkTarget)) {
        if (step == "..") {
            FUZZ_CHECK(at.size() > 1);
            at.pop_back();
        } else {
            at.push_back(step);
        }
    }
    FUZZ_CHECK(at.front() == p.front());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::bytes(data, size);
    zavren::ArchiveEntryChecker checker;
    std::set<std::string> links;
    std::size_t start = 0;
    while (start < input.size()) {
        auto end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        const ArchiveEntry e = entryOf(input.substr(start, end - start));
        start = end + 1;
        const bool alone = !zavren::entryRefusal(e);
        if (checker.check(e)) continue;
        FUZZ_CHECK(alone);  // the ordered check is never looser than the pure one
        checkAccepted(e);
        const auto p = parts(e.name);
        for (std::size_t n = 1; n < p.size(); ++n) FUZZ_CHECK(!links.count(joined(p, n)));
        if (e.type == ArchiveEntry::Type::symlink) links.insert(joined(p, p.size()));
    }
    return 0;
}
