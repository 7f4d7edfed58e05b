#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/fake_ports.h"
#include "shared/files.h"
#include "text/terms.h"

namespace zavren {
namespace {

namespace fs = std::filesystem;

class TermsTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "zavren-terms-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        file = (fs::path(root) / "terms.txt").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    std::string load(const std::string& content) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        return loadUserTerms(file);
    }

    std::string root;
    std::string file;
};

TEST_F(TermsTest, SplitsLinesCommentsAndSeparators) {
    const struct {
        const char* content;
        const char* terms;
    } cases[] = {
        {"  # a comment\na,b,, c\nd  e\n", "a b c d e"},
        {"\t# tab-indented comment\nx\n", "x"},
        {"\xE3\x80\x80# ideographic space before the sign\nx", "x"},
        {"foo #bar\n", "foo #bar"},
        {"foo\tbar baz", "foo\tbar baz"},
        {"dup\ndup\n", "dup dup"},
        {"甲，乙、丙", "甲，乙、丙"},
        {"\n\n  \n,,\n", ""},
        {"last line without newline", "last line without newline"},
        // A CR LF pair is one character, not a line feed: the file is one line.
        {"# comment\r\nterm\r\n", ""},
        {"a\r\nb", "a\r\nb"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(load(c.content), c.terms) << c.content;
}

TEST_F(TermsTest, NothingFromAMissingUnreadableOrBrokenFile) {
    EXPECT_EQ(loadUserTerms(file), "");
    EXPECT_EQ(load("good\nbad \xFF\n"), "");
    EXPECT_EQ(load("\xED\xA0\x80"), "");  // an encoded surrogate
    fs::create_directory(file + ".dir");
    EXPECT_EQ(loadUserTerms(file + ".dir"), "");
}

TEST_F(TermsTest, TemplateIsExactAndYieldsItsCompounds) {
    EXPECT_EQ(TERMS_TEMPLATE.size(), 366u);
    EXPECT_EQ(std::count(TERMS_TEMPLATE.begin(), TERMS_TEMPLATE.end(), '\n'), 8);
    EXPECT_EQ(load(std::string(TERMS_TEMPLATE)), "USB-C Wi-Fi JavaScript TypeScript");
}

TEST_F(TermsTest, OpenTermsCreatesFoldersAndTheTemplate) {
    const std::string nested = (fs::path(root) / "a" / "b c" / "术语.txt").string();
    fakes::FakeDesktop desktop;
    openTerms(nested, desktop);
    EXPECT_EQ(files::read(nested), std::string(TERMS_TEMPLATE));
    ASSERT_EQ(desktop.openedUrls.size(), 1u);
    EXPECT_EQ(desktop.openedUrls[0], fileUrl(nested));
    EXPECT_EQ(desktop.openedUrls[0].rfind("file:///", 0), 0u);
    EXPECT_NE(desktop.openedUrls[0].find("/b%20c/%E6%9C%AF%E8%AF%AD.txt"), std::string::npos);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(nested).parent_path()),
                            fs::directory_iterator()),
              1);
}

TEST_F(TermsTest, OpenTermsNeverOverwrites) {
    fakes::FakeDesktop desktop;
    std::ofstream(file, std::ios::binary) << "mine\n";
    openTerms(file, desktop);
    EXPECT_EQ(files::read(file), "mine\n");

    // An empty file is still the user's file.
    std::ofstream(file, std::ios::binary | std::ios::trunc).flush();
    openTerms(file, desktop);
    EXPECT_EQ(files::read(file), "");

    // So is a symlink, even one whose target is gone.
    const std::string link = (fs::path(root) / "linked.txt").string();
    fs::create_symlink(fs::path(root) / "gone.txt", link);
    openTerms(link, desktop);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(fs::path(root) / "gone.txt"));
    EXPECT_EQ(desktop.openedUrls.size(), 3u);
}

TEST_F(TermsTest, OpenTermsStillAsksTheDesktopWhenTheFolderCannotBeMade) {
    // A regular file where the folder should be.
    const std::string blocker = (fs::path(root) / "blocker").string();
    std::ofstream(blocker) << "x";
    fakes::FakeDesktop desktop;
    openTerms(blocker + "/terms.txt", desktop);
    EXPECT_EQ(desktop.openedUrls.size(), 1u);
    EXPECT_FALSE(fs::exists(blocker + "/terms.txt"));
}

TEST(FileUrl, PercentEncodesEverythingButUnreservedAndSlashes) {
    EXPECT_EQ(fileUrl("/home/u/.config/zavren/terms.txt"),
              "file:///home/u/.config/zavren/terms.txt");
    EXPECT_EQ(fileUrl("/a b/%/#?/é"), "file:///a%20b/%25/%23%3F/%C3%A9");
}

}  // namespace
}  // namespace zavren
