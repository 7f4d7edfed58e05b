#include "text/terms.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "fakes/fake_ports.h"
#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

struct Terms : ::testing::Test {
    test::TempDir tmp;
    std::string file = tmp / "terms.txt";
    fakes::FakeDesktop desktop;
    std::string load(const std::string& content) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        return loadUserTerms(file);
    }
};

TEST_F(Terms, SplitsLinesCommentsAndSeparators) {
    const std::pair<const char*, const char*> rows[] = {
        {"  # a comment\na,b,, c\nd  e\n", "a b c d e"},
        {"\xE3\x80\x80# ideographic space before the sign\nx", "x"},
        {"foo #bar\n", "foo #bar"},
        {"甲，乙、丙", "甲，乙、丙"},
        // A CR LF pair is one character, not a line feed: the file is one line.
        {"# comment\r\nterm\r\n", ""},
        {"\r\nx", "\r\nx"},  // also at the very start
        {"good\nbad \xFF\n", ""},
        {"\xED\xA0\x80", ""},  // an encoded surrogate
    };
    for (const auto& [content, terms] : rows) EXPECT_EQ(load(content), terms) << content;
    EXPECT_EQ(load(std::string(TERMS_TEMPLATE)), "USB-C Wi-Fi JavaScript TypeScript");
}

// A FIFO answers at once instead of hanging the caller; a long file gives the
// whole terms within the cap, and the user is told.
TEST_F(Terms, OnlyASmallRegularFileIsRead) {
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(loadUserTerms(file), "");
    EXPECT_EQ(termsFileProblem(file), "术语词典不是普通文件,已忽略");
    fs::remove(file);
    std::string many;
    while (many.size() < TERMS_MAX_BYTES) many += "term" + std::to_string(many.size()) + "\n";
    std::string kept = load(many + "last\n");
    std::replace(kept.begin(), kept.end(), ' ', '\n');
    kept += '\n';
    EXPECT_EQ(many.rfind(kept, 0), 0u) << "whole terms, in order";
    EXPECT_GT(kept.size(), TERMS_MAX_BYTES - 16);
    EXPECT_EQ(termsFileProblem(file), "术语词典超过 32 KB,只使用了前 32 KB 中的词");
    load(std::string(TERMS_MAX_BYTES - 1, 'a') + "\n");  // the cap itself is no problem
    EXPECT_EQ(termsFileProblem(file), std::nullopt);
}

TEST_F(Terms, OpeningCreatesTheTemplateOnceAndNeverOverwrites) {
    const std::string nested = tmp / "a/b c/术语.txt";
    openTerms(nested, desktop);
    EXPECT_EQ(files::read(nested), std::string(TERMS_TEMPLATE));
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp / "a/b c"), fs::directory_iterator()), 1)
        << "no temporary file left beside it";
    std::ofstream(nested, std::ios::trunc).flush();
    openTerms(nested, desktop);
    EXPECT_EQ(files::read(nested), "") << "an empty file is still the user's";
    fs::create_symlink(tmp / "gone.txt", file);
    openTerms(file, desktop);
    EXPECT_FALSE(fs::exists(tmp / "gone.txt")) << "nor is a dangling link followed";
    std::ofstream(tmp / "blocker") << "x";
    openTerms(tmp / "blocker/terms.txt", desktop);
    EXPECT_EQ(desktop.openedFiles.size(), 4u) << "the desktop is asked every time";
}

// The terms file must never reach a web browser: it would show it read-only and
// load its start page from the network.
TEST_F(Terms, OpensWithTheTextHandlerUnlessThereIsNoneOrItIsABrowser) {
    const std::string editor = "[Desktop Entry]\nName=Ed\nMimeType=text/plain;text/html;\n";
    struct Row {
        const char* what;
        std::optional<DesktopHandler> handler;
        bool appStarts;
        std::optional<TermsNotOpened> told;
    } rows[] = {
        {"an editor", DesktopHandler{"ed.desktop", editor}, true, std::nullopt},
        {"an editor that fails to start", DesktopHandler{"ed.desktop", editor}, false,
         TermsNotOpened::noApplication},
        {"no handler", std::nullopt, true, TermsNotOpened::noApplication},
        {"a browser by category",
         DesktopHandler{"b.desktop", "[Desktop Entry]\r\nCategories = Network;WebBrowser;\r\n"},
         true, TermsNotOpened::browser},
        {"a browser by the web addresses it takes",
         DesktopHandler{"b.desktop",
                        "[Desktop Entry]\nMimeType=text/plain;x-scheme-handler/https\n"},
         true, TermsNotOpened::browser},
        {"an entry that cannot be read", DesktopHandler{"b.desktop", ""}, true,
         TermsNotOpened::browser},
        {"a browser only in another group",
         DesktopHandler{"ed.desktop", editor + "[Desktop Action web]\nCategories=WebBrowser;\n"},
         true, std::nullopt},
    };
    for (const auto& row : rows) {
        fakes::FakeDesktop d;
        d.textHandler = row.handler;
        d.filesOpen = row.appStarts;
        std::optional<TermsNotOpened> told;
        openTerms(file, d, [&](const std::string& path, TermsNotOpened why) {
            EXPECT_EQ(path, file);
            told = why;
        });
        EXPECT_EQ(told, row.told) << row.what;
        const bool handedOver = !d.openedFiles.empty();
        EXPECT_EQ(handedOver, row.handler && (!row.told || *row.told != TermsNotOpened::browser))
            << row.what;
    }
}

}  // namespace
}  // namespace zavren
