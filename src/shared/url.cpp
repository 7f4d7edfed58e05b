#include "shared/url.h"

#include <cctype>

namespace zavren {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool isHttpUrl(std::string_view text) {
    std::size_t rest = 0;
    if (startsWithNoCase(text, "http://")) {
        rest = 7;
    } else if (startsWithNoCase(text, "https://")) {
        rest = 8;
    } else {
        return false;
    }
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f) return false;
    }
    std::string_view authority = text.substr(rest);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    // Drop user info, then the port.
    if (auto at = authority.rfind('@'); at != std::string_view::npos)
        authority = authority.substr(at + 1);
    std::string_view host = authority;
    if (!host.empty() && host.front() == '[') {
        auto close = host.find(']');
        if (close == std::string_view::npos || close == 1) return false;
        std::string_view after = host.substr(close + 1);
        if (!after.empty() && after.front() != ':') return false;
        host = host.substr(1, close - 1);
    } else if (auto colon = host.find(':'); colon != std::string_view::npos) {
        std::string_view port = host.substr(colon + 1);
        for (char c : port) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        }
        host = host.substr(0, colon);
    }
    return !host.empty();
}

std::string appendPathComponent(const std::string& base, const std::string& component) {
    std::size_t tail = base.find_first_of("?#");
    std::string head = base.substr(0, tail);
    std::string rest = tail == std::string::npos ? std::string() : base.substr(tail);
    if (head.empty() || head.back() != '/') head += '/';
    return head + component + rest;
}

}  // namespace zavren
