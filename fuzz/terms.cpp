// The terms file is the user's to edit, with anything in it. What goes into the
// engine prompt is valid UTF-8, single-spaced, with no separator left over, and
// never more than the file held.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "check.h"
#include "text/terms.h"

namespace {

// A plain file in a private folder, rewritten in place for every input; in
// memory where there is a memory file system, a disk makes the run crawl.
class TermsFile {
  public:
    TermsFile() {
        const std::filesystem::path shm = "/dev/shm";
        const auto base =
            access(shm.c_str(), W_OK) == 0 ? shm : std::filesystem::temp_directory_path();
        std::string folder = base / "zavren-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(folder.data()) != nullptr);
        folder_ = folder;
        path_ = folder + "/terms.txt";
        fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        FUZZ_CHECK(fd_ >= 0);
    }
    ~TermsFile() {
        close(fd_);
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    const std::string& hold(std::string_view bytes) {
        FUZZ_CHECK(ftruncate(fd_, 0) == 0);
        FUZZ_CHECK(pwrite(fd_, bytes.data(), bytes.size(), 0) ==
                   static_cast<ssize_t>(bytes.size()));
        return path_;
    }

  private:
    std::string folder_, path_;
    int fd_ = -1;
};

TermsFile& file() {
    static TermsFile f;
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Were the file never read, every input would pass.
    FUZZ_CHECK(zavren::loadUserTerms(file().hold("# x\nkubectl, 泽文\n")) == "kubectl 泽文");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string terms = zavren::loadUserTerms(file().hold(fuzz::bytes(data, size)));
    FUZZ_CHECK(terms.size() <= size);
    FUZZ_CHECK(fuzz::validUtf8(terms));
    FUZZ_CHECK(terms.find("  ") == std::string::npos && terms.find(',') == std::string::npos);
    FUZZ_CHECK(terms.empty() || (terms.front() != ' ' && terms.back() != ' '));
    return 0;
}
