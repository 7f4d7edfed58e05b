#include "app/zavren.h"

#include <unistd.h>

#include <algorithm>

#include "app/status_icon.h"
#include "shared/constants.h"
#include "shared/files.h"

namespace zavren {

namespace {

std::string pidList(const std::vector<int>& pids) {
    std::string out = "[";
    for (std::size_t i = 0; i < pids.size(); ++i) {
        if (i > 0) out += ", ";
        out += std::to_string(pids[i]);
    }
    return out + "]";
}

}  // namespace

Zavren::Zavren(Platform& platform, Paths paths, AppState& st, Services services)
    : platform_(platform), paths_(std::move(paths)), st_(st), services_(services) {}

bool Zavren::singleInstance() {
    auto lock = platform_.instanceLock->acquire();
    if (lock.acquired) return true;
    const int self = static_cast<int>(::getpid());
    std::vector<int> others = lock.others;
    std::erase(others, self);
    platform_.log->line(LOG_PREFIX + "已有实例运行(pid " + pidList(others) + "),本实例退出");
    return false;
}

void Zavren::applicationDidFinishLaunching() {
    if (!singleInstance()) {
        platform_.application->terminate();
        return;
    }
    launched_ = true;
    std::weak_ptr<Zavren> weak = weak_from_this();

    platform_.statusItem->show(makeStatusIcon(EngineState::starting, false));
    // The icon follows the dictation and engine state wherever they change.
    iconFollowsState_ = st_.subscribe([weak](AppState::Field f) {
        if (f != AppState::Field::state && f != AppState::Field::engine) return;
        if (auto self = weak.lock()) self->refreshIcon();
    });

    platform_.statusItem->setMenu([weak] {
        auto self = weak.lock();
        return self ? self->menuNeedsUpdate() : std::vector<MenuItem>{};
    });

    platform_.panel->setup();

    platform_.microphone->request([](bool) {});
    platform_.trust->isTrusted(true);

    platform_.hotkey->install([weak](const FlagsEvent& event) {
        if (auto self = weak.lock()) self->services_.dictation->onFlags(event);
    });

    services_.server->setOnState([weak](EngineState state) {
        // Setting the state refreshes the icon through the subscription above.
        if (auto self = weak.lock()) self->st_.setEngine(state);
    });

    services_.installer->setOnDone([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->platform_.dispatcher->postAfter(seconds(0.8), [weak] {
            if (auto s = weak.lock()) s->platform_.windows->closeOnboarding();
        });
        self->services_.server->start();
    });

    if (!services_.server->engineAvailable()) {
        st_.setEngine(EngineState::starting);
        platform_.windows->showOnboarding(*services_.installer);
    } else {
        services_.server->start();
    }

    files::removeQuietly(paths_.wav);

    if (!platform_.defaults->boolValue(PRIVACY_HINT_KEY).value_or(false)) {
        platform_.defaults->setBool(PRIVACY_HINT_KEY, true);
        if (services_.server->engineAvailable()) {
            platform_.dispatcher->postAfter(seconds(2.0), [weak] {
                auto self = weak.lock();
                if (!self) return;
                if (self->services_.dictation->recording() || self->st_.state() != RecState::idle)
                    return;
                self->services_.dictation->flashHint(PRIVACY_HINT, 5.0);
            });
        }
    }

    platform_.dispatcher->postAfter(seconds(8.0), [weak] {
        if (auto self = weak.lock()) self->services_.updater->check(false);
    });

    Application* app = platform_.application;
    std::string wav = paths_.wav;
    app->onSigterm([weak, app, wav] {
        if (auto self = weak.lock()) self->services_.server->stop();
        files::removeQuietly(wav);
        app->exitNow(0);
    });
}

void Zavren::applicationWillTerminate() {
    // A refused instance owns neither the engine nor the recording: they belong to
    // the instance that is running.
    if (!launched_) return;
    services_.server->stop();
    files::removeQuietly(paths_.wav);
}

void Zavren::refreshIcon() {
    platform_.statusItem->setIcon(makeStatusIcon(st_.engine(), services_.dictation->recording()));
}

std::vector<MenuRow> Zavren::menuRows() {
    MenuInputs in;
    in.engineResolves = services_.server->engineAvailable();
    in.engine = st_.engine();
    in.trusted = platform_.trust->isTrusted(false);
    in.itnEnabled = services_.text->itnEnabled();
    in.currentKind = services_.server->currentKind();
    in.canRetryDictation = services_.dictation->canRetry();
    return menuModel(in);
}

std::vector<MenuItem> Zavren::menuNeedsUpdate() {
    std::weak_ptr<Zavren> weak = weak_from_this();
    std::vector<MenuItem> items;
    for (const MenuRow& row : menuRows()) {
        MenuItem item;
        item.kind = row.kind;
        item.title = row.title;
        item.subtitle = row.subtitle;
        item.enabled = row.enabled;
        item.checked = row.checked;
        item.keyEquivalent = row.keyEquivalent;
        if (row.action != MenuAction::none) {
            MenuAction action = row.action;
            item.choose = [weak, action] {
                if (auto self = weak.lock()) self->perform(action);
            };
        }
        items.push_back(std::move(item));
    }
    return items;
}

void Zavren::perform(MenuAction action) {
    switch (action) {
        case MenuAction::none:
            return;
        case MenuAction::showInstaller:
            return showInstaller();
        case MenuAction::retryEngine:
            return retryEngine();
        case MenuAction::retryDictation:
            return services_.dictation->retryLast();
        case MenuAction::openAXSettings:
            return openAXSettings();
        case MenuAction::showAbout:
            return showAbout();
        case MenuAction::showPrivacy:
            return showPrivacy();
        case MenuAction::checkUpdate:
            return checkUpdate();
        case MenuAction::openTerms:
            return openTerms();
        case MenuAction::toggleITN:
            return toggleITN();
        case MenuAction::reloadTerms:
            return reloadTerms();
        case MenuAction::reinstallEngine:
            return reinstallEngine();
        case MenuAction::quit:
            return quit();
    }
}

void Zavren::showInstaller() {
    platform_.windows->showOnboarding(*services_.installer);
}

void Zavren::retryEngine() {
    services_.server->restart();
}

void Zavren::openAXSettings() {
    platform_.trust->isTrusted(true);
    platform_.desktop->openAccessibilitySettings();
}

void Zavren::showAbout() {
    platform_.windows->showAbout(services_.server->installedVersion());
}

void Zavren::showPrivacy() {
    platform_.windows->showPrivacy();
}

void Zavren::checkUpdate() {
    services_.updater->check(true);
}

void Zavren::openTerms() {
    services_.text->openTerms();
}

void Zavren::toggleITN() {
    services_.text->toggleItn();
}

void Zavren::reloadTerms() {
    retryEngine();
}

void Zavren::reinstallEngine() {
    Alert alert;
    alert.message = "重新下载语音引擎?";
    alert.informative = "将删除已安装的引擎并重新下载(约 1 GB)。用于引擎损坏或升级。";
    alert.buttons = {"重新下载", "取消"};
    platform_.desktop->activate();
    if (platform_.desktop->runAlert(alert) != 0) return;
    services_.server->stop();
    st_.setEngine(EngineState::starting);
    services_.server->removeInstalled();
    platform_.windows->showOnboarding(*services_.installer);
    services_.installer->start();
}

void Zavren::quit() {
    platform_.application->terminate();
}

}  // namespace zavren
