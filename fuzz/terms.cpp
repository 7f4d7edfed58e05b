// The terms file is the user's to edit, with anything in it. What goes into the
// engine prompt is valid UTF-8, single-spaced, with no separator left over, and
// never more than the file held.
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "check.h"
#include "text/terms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A memory file: a real regular file to open, without the disk.
    static const int fd = memfd_create("terms", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    FUZZ_CHECK(fd >= 0 && ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    const std::string terms = zavren::loadUserTerms(path);
    FUZZ_CHECK(terms.size() <= size);
    FUZZ_CHECK(fuzz::validUtf8(terms));
    FUZZ_CHECK(terms.find("  ") == std::string::npos && terms.find(',') == std::string::npos);
    FUZZ_CHECK(terms.empty() || (terms.front() != ' ' && terms.back() != ' '));
    return 0;
}
