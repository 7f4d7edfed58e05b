#include "engine/manifest.h"

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

namespace zavren {

namespace {

using nlohmann::json;

std::optional<std::string> stringField(const json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// Doubles hold every whole number up to 2^53 exactly; beyond that a value written
// with a fraction or exponent may already have been rounded, so it is refused.
constexpr double MAX_EXACT_DOUBLE = 9007199254740992.0;

std::optional<std::int64_t> sizeField(const json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end()) return std::nullopt;
    if (it->is_number_unsigned()) {
        auto v = it->get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(v);
    }
    if (it->is_number_integer()) return it->get<std::int64_t>();
    if (it->is_number_float()) {
        double d = it->get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > MAX_EXACT_DOUBLE)
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

std::optional<EngineManifest::PlatformAsset> decodeAsset(const json& obj) {
    if (!obj.is_object()) return std::nullopt;
    auto url = stringField(obj, "url");
    auto sha = stringField(obj, "sha256");
    auto size = sizeField(obj, "size");
    if (!url || !sha || !size) return std::nullopt;
    return EngineManifest::PlatformAsset{*url, *sha, *size};
}

// A record that names a digest twice cannot say which one it means.
class DuplicateKeyWatch {
  public:
    bool operator()(int, json::parse_event_t event, json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start:
                keys_.emplace_back();
                break;
            case json::parse_event_t::object_end:
                if (!keys_.empty()) keys_.pop_back();
                break;
            case json::parse_event_t::key:
                if (!keys_.empty() && parsed.is_string() &&
                    !keys_.back().insert(parsed.get<std::string>()).second)
                    duplicate_ = true;
                break;
            default:
                break;
        }
        return true;
    }
    bool duplicate() const { return duplicate_; }

  private:
    std::vector<std::set<std::string>> keys_;
    bool duplicate_ = false;
};

}  // namespace

std::optional<EngineManifest> EngineManifest::decode(std::string_view text) {
    DuplicateKeyWatch watch;
    json doc;
    try {
        doc = json::parse(text.begin(), text.end(), std::ref(watch));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (watch.duplicate() || !doc.is_object()) return std::nullopt;

    auto top = decodeAsset(doc);
    auto version = stringField(doc, "version");
    if (!top || !version) return std::nullopt;

    EngineManifest m;
    m.version = *version;
    m.url = top->url;
    m.sha256 = top->sha256;
    m.size = top->size;

    auto it = doc.find("platforms");
    if (it != doc.end() && !it->is_null()) {
        if (!it->is_object()) return std::nullopt;
        std::map<std::string, PlatformAsset> entries;
        for (const auto& [key, value] : it->items()) {
            auto asset = decodeAsset(value);
            if (!asset) return std::nullopt;
            entries.emplace(key, *asset);
        }
        m.platforms = std::move(entries);
    }
    return m;
}

EngineManifest::Asset EngineManifest::effective(const std::string& archKey) const {
    if (platforms) {
        auto it = platforms->find(archKey);
        if (it != platforms->end()) return {it->second.url, it->second.sha256, it->second.size};
    }
    return {url, sha256, size};
}

}  // namespace zavren
