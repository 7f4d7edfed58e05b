#include "setup/engine_sources.h"

#include <chrono>
#include <variant>

#include "engine/installer/engine_registry.h"
#include "engine/installer/install_from.h"
#include "shared/constants.h"

namespace zavren {

namespace {

const std::vector<std::string> GGUF = {"GGUF 模型 (*.gguf)", "所有文件 (*)"};

}  // namespace

std::shared_ptr<EngineSources> EngineSources::create(Dispatcher& dispatcher, Desktop& desktop,
                                                     EngineSourcesPorts ports) {
    return std::make_shared<EngineSources>(dispatcher, desktop, std::move(ports));
}

EngineSources::EngineSources(Dispatcher& dispatcher, Desktop& desktop, EngineSourcesPorts ports)
    : dispatcher_(dispatcher), desktop_(desktop), ports_(std::move(ports)) {}

void EngineSources::useExisting() {
    if (!available() || asking_) return;
    asking_ = true;
    std::weak_ptr<EngineSources> weak = weak_from_this();
    desktop_.showAlert(
        Alert{"使用已有引擎",
              "选择你已有的引擎:llama-server 程序及其模型和 mmproj 投影文件,或 Python "
              "程序及其服务脚本。文件留在原处,ZAVREN 只登记指向它们的链接。",
              {"llama-server…", "Python…", "取消"}},
        [weak](int chosen) {
            auto self = weak.lock();
            if (!self) return;
            if (chosen == 0) {
                self->ask({{"选择 llama-server 程序", {}},
                           {"选择模型文件", GGUF},
                           {"选择 mmproj 投影文件", GGUF}},
                          {}, [self](const auto& paths) { self->registerLinks("llama", paths); });
            } else if (chosen == 1) {
                self->ask({{"选择 Python 程序", {}},
                           {"选择服务脚本", {"Python 脚本 (*.py)", "所有文件 (*)"}}},
                          {}, [self](const auto& paths) { self->registerLinks("python", paths); });
            } else {
                self->asking_ = false;
            }
        });
}

// One file dialogue after the other; cancelling any of them ends the chain.
void EngineSources::ask(std::vector<Step> steps, std::vector<std::string> chosen, Register done) {
    if (chosen.size() == steps.size()) {
        asking_ = false;
        done(chosen);
        return;
    }
    const Step& step = steps[chosen.size()];
    std::weak_ptr<EngineSources> weak = weak_from_this();
    ports_.files->choose(FileRequest{step.title, step.filters},
                         [weak, steps, chosen, done](std::optional<std::string> path) mutable {
                             auto self = weak.lock();
                             if (!self) return;
                             if (!path) {
                                 self->asking_ = false;
                                 return;
                             }
                             chosen.push_back(*path);
                             self->ask(std::move(steps), std::move(chosen), std::move(done));
                         });
}

void EngineSources::registerLinks(const std::string& kind, const std::vector<std::string>& paths) {
    const auto links = kind == "llama" ? EngineRegistry::llamaLinks(paths[0], paths[1], paths[2])
                                       : EngineRegistry::pythonLinks(paths[0], paths[1]);
    const auto r = EngineRegistry::add(ports_.engineRoot, links, std::nullopt,
                                       std::chrono::system_clock::now());
    if (r.status != EngineRegistry::Result::Status::done) {
        log("登记引擎失败:" + r.text);
        tell("无法使用这个引擎", r.text);
        return;
    }
    std::string informative = r.text + "\n引擎启动后,欢迎窗口会显示「引擎就位」。";
    if (auto note = EngineRegistry::chosenInstead(ports_.engineRoot, r.text))
        informative = r.text + "\n注意:" + *note;
    tell("已登记引擎", informative);
}

void EngineSources::installFromFile() {
    if (!available() || asking_) return;
    if (phase_ && (phase_->is<InstallPhase::Verifying>() || phase_->is<InstallPhase::Extracting>()))
        return;
    asking_ = true;
    std::weak_ptr<EngineSources> weak = weak_from_this();
    ports_.files->choose(FileRequest{"选择 engine.json(引擎包须在同一文件夹)",
                                     {"引擎信息 (engine.json)", "JSON (*.json)", "所有文件 (*)"}},
                         [weak](std::optional<std::string> path) {
                             auto self = weak.lock();
                             if (!self) return;
                             self->asking_ = false;
                             if (path) self->install(*path);
                         });
}

void EngineSources::install(const std::string& manifest) {
    setPhase(InstallPhase{InstallPhase::Verifying{}});
    std::weak_ptr<EngineSources> weak = weak_from_this();
    Dispatcher* main = &dispatcher_;
    auto post = [weak, main](InstallPhase p) {
        main->post([weak, p = std::move(p)] {
            if (auto self = weak.lock()) self->setPhase(p);
        });
    };
    // Hashing and unpacking a large archive takes a while: off the main thread.
    dispatcher_.background([manifest, post, root = ports_.engineRoot] {
        auto located = InstallFrom::locate(manifest);
        if (auto* why = std::get_if<std::string>(&located)) {
            post(InstallPhase{InstallPhase::Failed{*why}});
            return;
        }
        post(InstallFrom::install(std::get<InstallFrom::Package>(located), root,
                                  [&post](const InstallPhase& p) { post(p); }));
    });
}

void EngineSources::forget() {
    setPhase(std::nullopt);
}

void EngineSources::setPhase(std::optional<InstallPhase> phase) {
    if (phase == phase_) return;
    phase_ = std::move(phase);
    if (phase_)
        if (auto failed = phase_->get<InstallPhase::Failed>())
            log("从文件安装引擎失败:" + failed->message);
    if (onChange) onChange();
}

void EngineSources::tell(const std::string& message, const std::string& informative) {
    desktop_.activate();
    desktop_.showAlert(Alert{message, informative, {"好"}}, nullptr);
}

void EngineSources::log(const std::string& line) {
    if (ports_.log) ports_.log->line(LOG_PREFIX + line);
}

}  // namespace zavren
