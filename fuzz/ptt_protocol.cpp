// The control socket takes one line from any local program. However the bytes
// arrive (the first input byte picks where the stream is cut in two), the reader
// gives the same verdict and never holds more than one short line.
#include <string>

#include "check.h"
#include "wayland/ptt_protocol.h"

namespace {

using Status = zavren::PttLineReader::LineStatus;

struct Verdict {
    Status status;
    std::string line;
};

Verdict read(std::string_view a, std::string_view b) {
    zavren::PttLineReader reader;
    Status status = reader.feed(a);
    if (status == Status::incomplete && !b.empty()) status = reader.feed(b);
    return {status, reader.line()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto stream = fuzz::bytes(data + 1, size - 1);
    const std::size_t cut = data[0] % (stream.size() + 1);
    const Verdict whole = read(stream, {});
    const Verdict split = read(stream.substr(0, cut), stream.substr(cut));
    FUZZ_CHECK(whole.status == split.status);
    if (whole.status == Status::done) {
        FUZZ_CHECK(whole.line == split.line);
        FUZZ_CHECK(whole.line.size() <= zavren::PTT_MAX_LINE);
        FUZZ_CHECK(whole.line.find('\n') == std::string::npos);
        FUZZ_CHECK(stream.substr(0, whole.line.size()) == whole.line);
        // A line is a word, optionally followed by the sender's start time.
        if (auto message = zavren::parsePttLine(whole.line)) {
            std::string bare = whole.line.substr(0, whole.line.find(' '));
            if (!bare.empty() && bare.back() == '\r') bare.pop_back();
            FUZZ_CHECK(bare == "press" || bare == "release" || bare == "toggle" ||
                       bare == "cancel");
            FUZZ_CHECK(message->command == *zavren::parsePttWord(bare));
        }
    }
    if (whole.status == Status::incomplete) FUZZ_CHECK(stream.find('\n') == std::string::npos);
    return 0;
}
