#include "update/app_updater.h"

#include <algorithm>
#include <utility>

#include "platform/copied_address.h"
#include "shared/constants.h"
#include "shared/url.h"
#include "shared/version_compare.h"

namespace zavren {

namespace {

// What the server names is shown and copied as is: a web address in plain ASCII of a
// sane length, so no look-alike characters or direction marks can dress it up.
bool showable(const std::string& address) {
    return address.size() <= UPDATE_MAX_ADDRESS && isHttpUrl(address) &&
           std::all_of(address.begin(), address.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

AppUpdater::AppUpdater(Dispatcher& dispatcher, HttpClient& http, Desktop& desktop,
                       Pasteboard& pasteboard, Defaults& defaults, std::string base)
    : dispatcher_(dispatcher),
      http_(http),
      desktop_(desktop),
      pasteboard_(pasteboard),
      defaults_(defaults),
      base_(std::move(base)),
      alive_(std::make_shared<AppUpdater*>(this)) {}

void AppUpdater::check(bool interactive) {
    HttpRequest req;
    req.url = appendPathComponent(base_, "latest.json");
    req.timeout = UPDATE_IDLE_TIMEOUT;
    req.deadline = UPDATE_DEADLINE;
    req.maxBodyBytes = UPDATE_MAX_BYTES;
    req.cache = HttpRequest::CachePolicy::reloadIgnoringLocalCache;
    std::weak_ptr<AppUpdater*> weak = alive_;
    Dispatcher* dispatcher = &dispatcher_;
    // Status is not examined: only a decodable, complete body counts.
    http_.send(std::move(req), [weak, dispatcher, interactive](HttpResponse response) {
        if (weak.expired()) return;
        std::optional<AppLatest> latest;
        if (!response.error && !response.body.empty()) latest = AppLatest::decode(response.body);
        dispatcher->post([weak, latest, interactive] {
            if (auto self = weak.lock()) (*self)->conclude(latest, interactive);
        });
    });
}

void AppUpdater::conclude(const std::optional<AppLatest>& latest, bool interactive) {
    if (!latest) {
        if (interactive) tell("检查更新失败", "暂时连不上更新服务,稍后再试。");
        return;
    }
    if (!numericLess(APP_VERSION, latest->version)) {
        if (interactive) tell("已是最新版本", "ZAVREN.AI v" + APP_VERSION + " 就是最新的公测版。");
        return;
    }
    if (!interactive && defaults_.stringValue(SKIPPED_VERSION_KEY) == latest->version) return;
    prompt(*latest);
}

void AppUpdater::prompt(const AppLatest& latest) {
    Alert alert;
    alert.message = "ZAVREN.AI " + latest.version + " 可用";
    alert.informative =
        latest.notes.value_or("新版本已发布。") + "\n\n当前版本 v" + APP_VERSION + "。";
    alert.buttons = {"下载新版", "跳过此版本", "以后再说"};
    desktop_.activate();
    std::weak_ptr<AppUpdater*> weak = alive_;
    desktop_.showAlert(alert, [weak, latest](int answer) {
        auto self = weak.lock();
        if (!self) return;
        AppUpdater& u = **self;
        if (answer == DOWNLOAD_BUTTON) {
            // Anything else in the record (another scheme, a relative path, garbage)
            // gives the downloads base instead.
            const std::string& chosen = latest.page ? *latest.page : latest.url;
            offerAddress(u.desktop_, u.pasteboard_,
                         {"下载地址", showable(chosen) ? chosen : u.base_, PASTE_IN_BROWSER});
        } else if (answer == SKIP_BUTTON) {
            u.defaults_.setString(SKIPPED_VERSION_KEY, latest.version);
        }
    });
}

void AppUpdater::tell(const std::string& message, const std::string& informative) {
    desktop_.activate();
    desktop_.showAlert(Alert{message, informative, {"好"}}, nullptr);
}

}  // namespace zavren
