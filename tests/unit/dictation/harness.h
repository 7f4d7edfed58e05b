#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "dictation/controller.h"
#include "dictation/indicator_model.h"
#include "dictation/wav.h"
#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_recorder.h"
#include "shared/app_state.h"
#include "shared/base64.h"
#include "shared/constants.h"

namespace zavren::testing {

// A private folder that disappears with the test.
struct TempDir {
    std::string path;
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zavren-dict-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// One dictation controller wired to fakes and virtual time.
struct Harness {
    TempDir dir;
    AppState st;
    fakes::FakeDispatcher dispatcher;
    fakes::FakeHttpClient http{dispatcher};
    fakes::FakeAudioRecorderFactory recorders;
    fakes::FakePasteboard pasteboard;
    fakes::FakeKeySynthesizer keys;
    fakes::FakeTrust trust;
    fakes::FakePanel panel;
    EngineKind kind = EngineKind::llama;
    std::function<std::string(std::string)> polish = [](std::string s) { return s; };
    int iconRefreshes = 0;
    std::shared_ptr<DictationController> ctl;

    std::string wav() const { return dir.path + "/zavren.wav"; }
    std::string terms() const { return dir.path + "/terms.txt"; }

    Harness() {
        st.setEngine(EngineState::ready);
        ctl = DictationController::create(DictationController::Deps{
            .st = st,
            .dispatcher = dispatcher,
            .http = http,
            .recorders = recorders,
            .pasteboard = pasteboard,
            .keys = keys,
            .trust = trust,
            .panel = panel,
            .wavPath = wav(),
            .termsFile = terms(),
            .currentKind = [this] { return kind; },
            .polish = [this](std::string s) { return polish(std::move(s)); },
            .onRecordingChanged = [this] { ++iconRefreshes; },
        });
    }

    void press() { ctl->onFlags(FlagsEvent{HOTKEY_CODE, OPTION_FLAG}); }
    void release() { ctl->onFlags(FlagsEvent{HOTKEY_CODE, 0}); }

    // One meter tick of virtual time.
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i)
            dispatcher.advance(seconds(DictationController::METER_INTERVAL));
    }

    std::size_t chatRequests() const { return http.countTo(CHAT_URL); }

    // A short dictation: press, some audio, release.
    void dictate(std::size_t samples = 8000) {
        press();
        recorders.feedSamples(samples, 500);
        tick(3);
        release();
    }
    void answer(std::size_t i, const std::string& content);

    // What the user can tell from outside, so one assertion covers a whole checkpoint.
    std::string seen() const {
        std::string s = toString(st.state());
        if (ctl && ctl->recording()) s += " recording";
        s += panel.visible ? " panel" : " hidden";
        if (st.hint()) s += " hint=" + *st.hint();
        return s + " req=" + std::to_string(http.count()) + " paste=" + std::to_string(keys.pastes);
    }
    void answerLast(const std::string& content) { answer(http.count() - 1, content); }
};

inline HttpResponse ok(std::string body, int status = 200) {
    HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

// The WAV carried by a chat request.
inline std::string audioOf(const HttpRequest& r) {
    auto body = nlohmann::json::parse(r.body);
    auto data = body["messages"][0]["content"][0]["input_audio"]["data"].get<std::string>();
    return base64::decode(data).value_or("<bad base64>");
}

inline std::string chatAnswer(const std::string& content) {
    nlohmann::json j = {
        {"choices", {{{"message", {{"role", "assistant"}, {"content", content}}}}}}};
    return j.dump();
}

inline void Harness::answer(std::size_t i, const std::string& content) {
    http.complete(i, ok(chatAnswer(content)));
    dispatcher.runUntilIdle();
}

}  // namespace zavren::testing
