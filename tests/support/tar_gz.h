#pragma once

// Tar archives written header by header, so tests can build what no tar would:
// sizes that lie, links out, duplicate names. Compressed with libarchive.
#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace zavren::test {

struct TarMember {
    std::string name;
    char type = '0';  // '0' file, '5' folder, '2' symlink, '1' hard link, '6' FIFO
    std::string data{}, link{};
    unsigned mode = 0644;
    std::int64_t declaredSize = -1;  // -1: data.size() for files, 0 otherwise
};

inline std::string tarHeader(const TarMember& m) {
    std::string h(512, '\0');
    auto put = [&](std::size_t at, std::size_t len, const std::string& v) {
        std::memcpy(&h[at], v.data(), std::min(len, v.size()));
    };
    auto octal = [&](std::size_t at, std::size_t len, std::int64_t v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%0*llo", static_cast<int>(len - 1),
                      static_cast<unsigned long long>(v));
        put(at, len - 1, buf);
    };
    std::int64_t size = m.declaredSize >= 0 ? m.declaredSize
                        : m.type == '0'     ? std::int64_t(m.data.size())
                                            : 0;
    put(0, 100, m.name);
    octal(100, 8, m.mode);
    octal(108, 8, 0);
    octal(116, 8, 0);
    if (size < (std::int64_t{1} << 33)) {
        octal(124, 12, size);
    } else {  // base-256, for sizes octal cannot hold
        h[124] = static_cast<char>(0x80);
        for (int i = 0; i < 8; ++i) h[135 - i] = static_cast<char>(size >> (8 * i));
    }
    octal(136, 12, 1700000000);
    h[156] = m.type;
    put(157, 100, m.link);
    put(257, 6, std::string("ustar\0", 6));
    put(263, 2, "00");
    std::memset(&h[148], ' ', 8);
    unsigned sum = 0;
    for (unsigned char c : h) sum += c;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06o", sum);
    put(148, 7, std::string(buf, 7));
    return h;
}

inline std::string gzip(const std::string& bytes) {
    std::string out;
    archive* a = archive_write_new();
    archive_write_add_filter_gzip(a);
    archive_write_set_format_raw(a);
    archive_write_set_bytes_per_block(a, 0);
    archive_write_open(
        a, &out, nullptr,
        [](archive*, void* sink, const void* data, std::size_t n) -> la_ssize_t {
            static_cast<std::string*>(sink)->append(static_cast<const char*>(data), n);
            return static_cast<la_ssize_t>(n);
        },
        nullptr);
    archive_entry* e = archive_entry_new();
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_size(e, static_cast<la_int64_t>(bytes.size()));
    archive_write_header(a, e);
    archive_write_data(a, bytes.data(), bytes.size());
    archive_entry_free(e);
    archive_write_close(a);
    archive_write_free(a);
    return out;
}

inline std::string tarGz(const std::vector<TarMember>& members) {
    std::string tar;
    for (const auto& m : members) {
        tar += tarHeader(m);
        tar += m.data;
        tar.append((512 - m.data.size() % 512) % 512, '\0');
    }
    return gzip(tar + std::string(1024, '\0'));
}

}  // namespace zavren::test
