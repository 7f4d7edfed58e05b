#include "app/zavren.h"

#include <unistd.h>

#include <algorithm>

#include "app/autostart.h"
#include "app/status_icon.h"
#include "engine/installer/engine_registry.h"
#include "engine/locator.h"
#include "platform/wording.h"
#include "shared/constants.h"
#include "shared/files.h"
#include "text/itn.h"
#include "text/terms.h"

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

StatusIcon iconFor(const AppState& st) {
    return makeStatusIcon(st.engine(), st.state() == RecState::listening);
}

}  // namespace

Zavren::Zavren(Platform& platform, Paths paths, AppState& st, ShellParts parts)
    : platform_(platform), paths_(std::move(paths)), st_(st), parts_(std::move(parts)) {}

bool Zavren::singleInstance() {
    auto lock = platform_.instanceLock->acquire();
    if (lock.acquired) return true;
    std::vector<int> others = lock.others;
    std::erase(others, static_cast<int>(::getpid()));
    platform_.log->line(LOG_PREFIX + "已有实例运行(pid " + pidList(others) + "),本实例退出");
    return false;
}

void Zavren::applicationDidFinishLaunching() {
    if (!singleInstance()) {
        platform_.application->terminate();
        return;
    }
    launched_ = true;
    showStatusItem();
    // Each part is a task of its own: run together they would hold the main thread
    // longer than a key press may wait. The order stays the same.
    std::weak_ptr<Zavren> weak = weak_from_this();
    platform_.dispatcher->post([weak] {
        if (auto self = weak.lock()) self->installInputs();
    });
    platform_.dispatcher->post([weak] {
        if (auto self = weak.lock()) self->startEngine();
    });
}

void Zavren::showStatusItem() {
    std::weak_ptr<Zavren> weak = weak_from_this();
    // The icon is drawn from AppState alone, whoever changes it.
    platform_.statusItem->show(iconFor(st_));
    iconFollowsState_ = st_.subscribe([weak](AppState::Field f) {
        if (f != AppState::Field::state && f != AppState::Field::engine) return;
        if (auto self = weak.lock()) self->platform_.statusItem->setIcon(iconFor(self->st_));
    });
    platform_.statusItem->setMenu([weak] {
        auto self = weak.lock();
        return self ? self->menuNeedsUpdate() : std::vector<MenuItem>{};
    });
}

void Zavren::installInputs() {
    std::weak_ptr<Zavren> weak = weak_from_this();
    platform_.panel->setup();
    platform_.microphone->request([](bool) {});
    platform_.trust->askForTrust();
    platform_.hotkey->choose(hotkeyFromStored(platform_.defaults->stringValue(HOTKEY_SETTING_KEY)));
    platform_.hotkey->install([weak](HotkeyEvent event) {
        if (auto self = weak.lock()) self->parts_.dictation->onHotkey(event);
    });

    parts_.server->onState = [weak](EngineState state) {
        if (auto self = weak.lock()) self->st_.setEngine(state, self->parts_.server->problem());
    };
    // The window shows why a download failed; the log keeps it for a bug report.
    failuresLogged_ = parts_.installer.subscribe([weak] {
        auto self = weak.lock();
        if (!self || !self->platform_.log) return;
        if (auto failed = self->parts_.installer.phase().get<InstallPhase::Failed>())
            self->platform_.log->line(LOG_PREFIX + "引擎下载失败:" + failed->message);
    });
    parts_.installer.onDone = [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->platform_.dispatcher->postAfter(ONBOARDING_CLOSE_DELAY, [weak] {
            if (auto s = weak.lock()) s->platform_.windows->closeOnboarding();
        });
        self->parts_.server->start();
    };
}

void Zavren::startEngine() {
    std::weak_ptr<Zavren> weak = weak_from_this();
    const bool haveEngine = parts_.server->engineAvailable();
    if (haveEngine) {
        platform_.dispatcher->post([weak] {
            if (auto self = weak.lock()) self->parts_.server->start();
        });
    } else {
        st_.setEngine(EngineState::notInstalled);
        platform_.windows->showOnboarding(parts_.installer);
    }

    files::removeQuietly(paths_.wav);

    if (!platform_.defaults->boolValue(PRIVACY_HINT_KEY).value_or(false)) {
        platform_.defaults->setBool(PRIVACY_HINT_KEY, true);
        if (haveEngine) {
            platform_.dispatcher->postAfter(PRIVACY_HINT_DELAY, [weak] {
                auto self = weak.lock();
                // Once dictation has begun the hint would only get in the way: drop it.
                if (self && self->st_.state() == RecState::idle)
                    self->parts_.dictation->flashHint(PRIVACY_HINT, PRIVACY_HINT_SECONDS);
            });
        }
    }

    platform_.dispatcher->postAfter(UPDATE_CHECK_DELAY, [weak] {
        auto self = weak.lock();
        // Read when it fires, so switching it off right after start counts.
        if (self && self->platform_.defaults->boolValue(AUTO_UPDATE_KEY).value_or(true))
            self->parts_.updater.check(false);
    });

    Application* app = platform_.application;
    std::string wav = paths_.wav;
    app->onSigterm([weak, app, wav] {
        if (auto self = weak.lock()) self->stopAll();
        files::removeQuietly(wav);
        app->exitNow(0);
    });
}

void Zavren::applicationWillTerminate() {
    // A refused instance owns neither the engine nor the recording: they belong to
    // the instance that is running.
    if (launched_) stopAll();
}

void Zavren::stopAll() {
    parts_.server->stopAndWait();
    files::removeQuietly(paths_.wav);
}

MenuInputs Zavren::menuInputs() {
    MenuInputs in;
    in.engineResolves = parts_.server->engineAvailable();
    in.engine = st_.engine();
    in.engineProblem = st_.engineProblem();
    in.trusted = platform_.trust->isTrusted(false);
    in.itnEnabled = ITN::enabled(*platform_.defaults);
    in.autoUpdate = platform_.defaults->boolValue(AUTO_UPDATE_KEY).value_or(true);
    in.currentKind = parts_.server->currentKind();
    in.canRetryDictation = parts_.dictation->canRetry();
    in.engineDownloaded = EngineLocator::anyDownloaded(paths_.engineRoot);
    in.startsAtLogin = Autostart::status(paths_.autostartFile).enabled;
    in.hotkey = readHotkeyStatus(*platform_.defaults, *platform_.hotkey);
    return in;
}

std::vector<MenuItem> Zavren::menuNeedsUpdate() {
    std::vector<MenuItem> items;
    for (const MenuRow& row : menuModel(menuInputs())) items.push_back(menuItem(row));
    return items;
}

MenuItem Zavren::menuItem(const MenuRow& row) {
    std::weak_ptr<Zavren> weak = weak_from_this();
    MenuItem item{row.kind,    row.title,         row.subtitle, row.enabled,
                  row.checked, row.keyEquivalent, {},           {}};
    if (row.action == MenuAction::chooseHotkey) {
        item.choose = [weak, key = row.hotkey] {
            if (auto self = weak.lock()) self->chooseHotkey(key);
        };
    } else if (row.action != MenuAction::none) {
        item.choose = [weak, action = row.action] {
            if (auto self = weak.lock()) self->perform(action);
        };
    }
    for (const MenuRow& child : row.submenu) item.submenu.push_back(menuItem(child));
    return item;
}

void Zavren::chooseHotkey(HotkeyKey key) {
    platform_.defaults->setString(HOTKEY_SETTING_KEY, std::string(storedName(key)));
    platform_.hotkey->choose(key);
}

void Zavren::showHotkeySetup() {
    Alert alert;
    alert.message = "接通按键";
    alert.informative =
        hotkeySetupHelp(readHotkeyStatus(*platform_.defaults, *platform_.hotkey).key);
    alert.buttons = {"好"};
    platform_.desktop->activate();
    platform_.desktop->showAlert(alert, [](int) {});
}

void Zavren::perform(MenuAction action) {
    switch (action) {
        case MenuAction::none:
            return;
        case MenuAction::showInstaller:
            return platform_.windows->showOnboarding(parts_.installer);
        case MenuAction::retryDictation:
            return parts_.dictation->retryLast();
        case MenuAction::retryEngine:
        case MenuAction::reloadTerms:
            // A python engine reads the terms only when it starts.
            return parts_.server->restart();
        case MenuAction::openAXSettings:
            platform_.trust->askAgain();
            return showPasteAccess(*platform_.desktop, platformWording());
        case MenuAction::showAbout: {
            auto engine = EngineLocator::installed(paths_.engineRoot);
            return platform_.windows->showAbout(engine ? std::optional(engine->version)
                                                       : std::nullopt);
        }
        case MenuAction::showPrivacy:
            return platform_.windows->showPrivacy();
        case MenuAction::checkUpdate:
            return parts_.updater.check(true);
        case MenuAction::toggleAutoUpdate: {
            Defaults& d = *platform_.defaults;
            return d.setBool(AUTO_UPDATE_KEY, !d.boolValue(AUTO_UPDATE_KEY).value_or(true));
        }
        case MenuAction::toggleAutostart:
            return toggleAutostart();
        case MenuAction::openTerms: {
            std::weak_ptr<Zavren> weak = weak_from_this();
            return openTerms(paths_.termsFile, *platform_.desktop,
                             [weak](const std::string& path, TermsNotOpened why) {
                                 auto self = weak.lock();
                                 if (!self) return;
                                 if (why == TermsNotOpened::browser)
                                     return self->tell(
                                         "术语词典不会在网页浏览器中打开",
                                         "文本文件的默认程序是网页浏览器(或无法确认),ZAVREN "
                                         "不会启动浏览器。请用任意文本编辑器打开这个文件:\n" +
                                             path);
                                 self->tell("没有可以打开术语词典的程序",
                                            "请用任意文本编辑器打开这个文件:\n" + path);
                             });
        }
        case MenuAction::toggleITN:
            return ITN::toggle(*platform_.defaults);
        case MenuAction::reinstallEngine:
            return reinstallEngine();
        case MenuAction::quit:
            return platform_.application->terminate();
        case MenuAction::chooseHotkey:
            return;  // carries its key: see chooseHotkey()
        case MenuAction::showHotkeySetup:
            return showHotkeySetup();
    }
}

void Zavren::reinstallEngine() {
    Alert alert;
    alert.message = "重新下载语音引擎?";
    alert.informative = "将删除已安装的引擎并重新下载(约 1 GB)。用于引擎损坏或升级。";
    const auto engines = EngineRegistry::list(paths_.engineRoot);
    if (std::ranges::any_of(engines,
                            [](const auto& e) { return !EngineLocator::downloaded(e.dir); }))
        alert.informative += "你登记的引擎会保留。";
    alert.buttons = {"重新下载", "取消"};
    platform_.desktop->activate();
    std::weak_ptr<Zavren> weak = weak_from_this();
    platform_.desktop->showAlert(alert, [weak](int chosen) {
        auto self = weak.lock();
        if (self && chosen == REINSTALL_CONFIRM_BUTTON) self->reinstallConfirmed();
    });
}

void Zavren::toggleAutostart() {
    const std::string& file = paths_.autostartFile;
    switch (Autostart::toggle(file, parts_.program)) {
        case Autostart::Result::on:
        case Autostart::Result::off:
            return;
        case Autostart::Result::notOurs:
            return tell(
                "登录时启动由另一个文件决定",
                "这个文件不是 ZAVREN 写的,ZAVREN 不会改动或删除它。要更改,请编辑或删除:\n" + file);
        case Autostart::Result::failed:
            return tell("无法设置登录时启动", "写不进或删不掉这个文件:\n" + file);
    }
}

void Zavren::tell(const std::string& message, const std::string& informative) {
    platform_.desktop->activate();
    platform_.desktop->showAlert(Alert{message, informative, {"好"}}, nullptr);
}

void Zavren::reinstallConfirmed() {
    parts_.server->stop();
    st_.setEngine(EngineState::starting);
    EngineLocator::removeDownloaded(paths_.engineRoot);
    // A registered engine stays and serves during the download; without one the
    // manager reports that no engine is installed.
    parts_.server->start();
    platform_.windows->showOnboarding(parts_.installer);
    parts_.installer.start();
}

}  // namespace zavren
