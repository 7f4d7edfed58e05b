#include "engine/installer/archive_listing.h"

#include <gtest/gtest.h>

namespace zavren {
namespace {

std::string line(char type, const std::string& quotedName, const std::string& link = {}) {
    std::string mode = std::string(1, type) + "rwxr-xr-x";
    std::string l = mode + " 0/0         0 2024-01-01 00:00 \"" + quotedName + "\"";
    if (type == 'l') l += " -> \"" + link + "\"";
    if (type == 'h') l += " link to \"" + link + "\"";
    return l + "\n";
}

TEST(TarListing, ParsesNamesLinksAndEscapesOrFails) {
    auto members = parseTarListing(
        line('d', "engine-1/") + line('-', "engine-1/a b\\\"c") + line('l', "engine-1/l", "../x") +
        line('h', "engine-1/h", "engine-1/a b\\\"c") +
        line('-', "engine-1/\\344\\270\\255\\0331\\n") +
        "tar: Ignoring unknown extended header keyword 'LIBARCHIVE.xattr'\n");
    ASSERT_TRUE(members && members->size() == 5u);
    EXPECT_EQ((*members)[1].name, "engine-1/a b\"c");
    EXPECT_EQ((*members)[2].type + (*members)[2].linkTarget, "l../x");
    EXPECT_EQ((*members)[3].linkTarget, "engine-1/a b\"c");
    EXPECT_EQ((*members)[4].name,
              "engine-1/\xe4\xb8\xad\x1b"
              "1\n");
    // A member line that cannot be read is an error, not a member to skip.
    EXPECT_FALSE(parseTarListing("-rw-r--r-- 0/0 3 2024-01-01 00:00 engine-1/a\n"));
    EXPECT_FALSE(parseTarListing("-rw-r--r-- \n"));
    EXPECT_FALSE(parseTarListing("lrwxrwxrwx 0/0 0 2024-01-01 00:00 \"engine-1/l\"\n"));
    EXPECT_FALSE(parseTarListing("-rw-r--r-- 0/0 3 2024-01-01 00:00 \"engine-1/a\n"));
}

TEST(TarListing, UnsafeMembersAreFound) {
    const std::string top = line('d', "engine-1/");
    // clang-format off
    std::pair<std::string, bool> cases[] = {
        // listing, safe
        {top + line('-', "engine-1/bin/llama-server"), true}, {line('d', "./") + line('-', "./engine-1/a"), true},
        {top + line('l', "engine-1/lib/libx.so", "libx.so.1"), true},
        {top + line('l', "engine-1/bin/up", "../models/m.gguf"), true},
        {top + line('l', "engine-1/bin/top", "../.."), true},  // the scratch folder itself
        {top + line('h', "engine-1/b", "engine-1/a"), true},
        {line('-', "/etc/cron.d/x"), false}, {line('-', "../outside"), false},
        {top + line('-', "engine-1/../../outside"), false}, {top + line('l', "engine-1/etc", "/etc"), false},
        {top + line('l', "engine-1/a/b", "../../../x"), false},
        {top + line('h', "engine-1/pw", "/etc/passwd"), false}, {top + line('h', "engine-1/pw", "../etc/passwd"), false},
        // Writing through a link the archive just made.
        {top + line('l', "engine-1/d", "sub") + line('-', "engine-1/d/file"), false},
        // A link that is inside only when its own link is taken lexically.
        {top + line('l', "engine-1/deep/up", "..") + line('l', "engine-1/x", "deep/up/../.."), false},
        // A hard link to a symlink carries its relative target to a new place.
        {top + line('l', "engine-1/a/s", "../x") + line('h', "s2", "engine-1/a/s"), false},
        {top + line('c', "engine-1/null"), false}, {top + line('p', "engine-1/fifo"), false},
    };
    // clang-format on
    for (const auto& [listing, safe] : cases) {
        SCOPED_TRACE(listing);
        auto members = parseTarListing(listing);
        ASSERT_TRUE(members);
        EXPECT_EQ(!unsafeMember(*members).has_value(), safe);
    }
}

}  // namespace
}  // namespace zavren
