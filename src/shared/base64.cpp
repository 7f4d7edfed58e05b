#include "shared/base64.h"

#include <openssl/evp.h>

namespace zavren::base64 {

void encodeAppend(std::string_view bytes, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + 4 * ((bytes.size() + 2) / 3));
    // EVP_EncodeBlock takes an int length: encode in slices that stay well inside it.
    constexpr std::size_t SLICE = 3 * (1u << 20);
    std::size_t written = 0;
    for (std::size_t off = 0; off < bytes.size(); off += SLICE) {
        const std::size_t n = std::min(SLICE, bytes.size() - off);
        written += static_cast<std::size_t>(EVP_EncodeBlock(
            reinterpret_cast<unsigned char*>(out.data() + start + written),
            reinterpret_cast<const unsigned char*>(bytes.data() + off), static_cast<int>(n)));
    }
    out.resize(start + written);
}

std::string encode(std::string_view bytes) {
    std::string out;
    encodeAppend(bytes, out);
    return out;
}

std::optional<std::string> decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    if (text.empty()) return std::string();
    std::string out(text.size() / 4 * 3, '\0');
    constexpr std::size_t SLICE = 4 * (1u << 20);
    std::size_t written = 0;
    for (std::size_t off = 0; off < text.size(); off += SLICE) {
        const std::size_t n = std::min(SLICE, text.size() - off);
        int r = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data() + written),
                                reinterpret_cast<const unsigned char*>(text.data() + off),
                                static_cast<int>(n));
        if (r < 0) return std::nullopt;
        written += static_cast<std::size_t>(r);
    }
    // EVP_DecodeBlock counts padding as zero bytes; take them back off.
    std::size_t pad = 0;
    if (text.back() == '=') pad = text[text.size() - 2] == '=' ? 2 : 1;
    // Padding is only allowed at the very end.
    if (text.substr(0, text.size() - pad).find('=') != std::string_view::npos) return std::nullopt;
    out.resize(written - pad);
    return out;
}

}  // namespace zavren::base64
