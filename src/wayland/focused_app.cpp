#include "wayland/focused_app.h"

#include <nlohmann/json.hpp>
#include <vector>

namespace zavren {

namespace {

using nlohmann::json;

std::string stringAt(const json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::string swayFocusedApp(std::string_view treeJson) {
    json root = json::parse(treeJson, nullptr, false);
    if (root.is_discarded()) return {};
    // Walked with a stack of our own: the tree comes from another process.
    std::vector<const json*> pending{&root};
    while (!pending.empty()) {
        const json& node = *pending.back();
        pending.pop_back();
        if (!node.is_object()) continue;
        auto focused = node.find("focused");
        if (focused != node.end() && focused->is_boolean() && focused->get<bool>()) {
            std::string app = stringAt(node, "app_id");
            auto props = node.find("window_properties");
            if (app.empty() && props != node.end() && props->is_object())
                app = stringAt(*props, "class");
            return app;
        }
        for (const char* key : {"nodes", "floating_nodes"}) {
            auto children = node.find(key);
            if (children == node.end() || !children->is_array()) continue;
            for (const auto& child : *children) pending.push_back(&child);
        }
    }
    return {};
}

std::string hyprlandActiveApp(std::string_view windowJson) {
    json window = json::parse(windowJson, nullptr, false);
    if (window.is_discarded() || !window.is_object()) return {};
    std::string app = stringAt(window, "class");
    return app.empty() ? stringAt(window, "initialClass") : app;
}

}  // namespace zavren
