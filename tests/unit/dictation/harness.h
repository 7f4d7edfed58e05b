#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "dictation/controller.h"
#include "fakes/fake_dispatcher.h"
#include "fakes/fake_http.h"
#include "fakes/fake_ports.h"
#include "fakes/fake_recorder.h"
#include "shared/app_state.h"
#include "shared/base64.h"
#include "shared/constants.h"
#include "support/temp_dir.h"

namespace zavren::test {

inline HttpResponse ok(std::string body, int status = 200) {
    return HttpResponse{status, std::move(body), std::nullopt};
}

inline std::string chatAnswer(const std::string& content) {
    return nlohmann::json{{"choices", {{{"message", {{"content", content}}}}}}}.dump();
}

// The samples of the WAV a chat request carries, after its 44-byte header.
inline std::string samplesOf(const HttpRequest& r) {
    auto body = nlohmann::json::parse(r.body);
    auto data = body["messages"][0]["content"][0]["input_audio"]["data"].get<std::string>();
    return base64::decode(data).value_or("<bad base64>").substr(44);
}

// What every dictation test stands on: a private folder, the state, virtual time,
// HTTP and a recorder that writes a real file.
struct Rig {
    test::TempDir dir;
    AppState st;
    fakes::FakeDispatcher dispatcher;
    fakes::FakeHttpClient http{dispatcher};
    fakes::FakeAudioRecorderFactory recorders;

    std::string wav() const { return dir / "zavren.wav"; }
    void answer(std::size_t i, const std::string& content, int status = 200) {
        http.complete(i, ok(chatAnswer(content), status));
        dispatcher.runUntilIdle();
    }
};

// One dictation controller wired to fakes and virtual time.
struct Harness : Rig {
    fakes::FakePaster paster;
    fakes::FakePanel panel;
    fakes::FakeLog log;
    EngineKind kind = EngineKind::llama;
    bool ours = true;
    int installerShown = 0;
    std::function<std::string(std::string)> polish = [](std::string s) { return s; };
    std::shared_ptr<DictationController> ctl = DictationController::create(
        {st, dispatcher, http, recorders, paster, panel, wav(), dir / "terms.txt",
         [this] { return kind; }, [this](std::string s) { return polish(std::move(s)); },
         [this] { return ours; }, &log, [this] { ++installerShown; }});

    Harness() { st.setEngine(EngineState::ready); }
    void press() { ctl->onHotkey(HotkeyEvent::press); }
    void release() { ctl->onHotkey(HotkeyEvent::release); }
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i) dispatcher.advance(DictationController::METER_INTERVAL);
    }
    void dictate() {
        press();
        recorders.feedSamples(8000, 500);
        tick(3);
        release();
    }
    // What the user can tell from outside, so one assertion covers a whole checkpoint.
    std::string seen() const {
        std::string s = toString(st.state());
        s += panel.visible ? " panel" : " hidden";
        if (st.hint()) s += " hint=" + *st.hint();
        return s + " req=" + std::to_string(http.count()) +
               " paste=" + std::to_string(paster.pasted.size());
    }
};

}  // namespace zavren::test
