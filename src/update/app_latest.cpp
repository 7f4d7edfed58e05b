#include "update/app_latest.h"

#include <nlohmann/json.hpp>

namespace zavren {

namespace {

using nlohmann::json;

// false when the key holds something other than a string (or null, if allowed).
bool readString(const json& j, const char* key, std::optional<std::string>& out, bool required) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return !required;
    if (!it->is_string()) return false;
    out = it->get<std::string>();
    return true;
}

}  // namespace

std::optional<AppLatest> AppLatest::decode(std::string_view body) {
    json j = json::parse(body.begin(), body.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    std::optional<std::string> version, url;
    AppLatest r;
    if (!readString(j, "version", version, true) || !readString(j, "url", url, true) ||
        !readString(j, "notes", r.notes, false) || !readString(j, "page", r.page, false)) {
        return std::nullopt;
    }
    r.version = *version;
    r.url = *url;
    return r;
}

std::string AppLatest::encode() const {
    json j = json::object();
    j["version"] = version;
    if (notes) j["notes"] = *notes;
    j["url"] = url;
    if (page) j["page"] = *page;
    return j.dump();
}

}  // namespace zavren
