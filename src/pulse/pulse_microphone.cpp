#include "pulse/pulse_microphone.h"

#include <chrono>
#include <string>
#include <utility>

namespace zavren {

namespace {

// Polled every second by the setup window, so a dead server must answer quickly.
constexpr auto QUERY_TIMEOUT = std::chrono::milliseconds(1500);

struct Query {
    PulseConnection* conn;
    std::string defaultSource;
    bool found = false;
    bool isMonitor = false;
};

}  // namespace

PulseMicrophone::PulseMicrophone(Dispatcher& dispatcher,
                                 std::shared_ptr<PulseConnection> connection)
    : dispatcher_(dispatcher),
      conn_(connection ? std::move(connection) : std::make_shared<PulseConnection>()) {
    conn_->warmUp();
}

void PulseMicrophone::authorized(std::function<void(bool)> answer) {
    state_->waiting.push_back(std::move(answer));
    if (state_->asking) return;
    state_->asking = true;
    // The tasks own what they use: the answer may come after this object is gone.
    dispatcher_.background([conn = conn_, state = state_, dispatcher = &dispatcher_] {
        const bool ok = query(*conn);
        dispatcher->post([state, ok] {
            auto waiting = std::exchange(state->waiting, {});
            state->asking = false;
            for (auto& answer : waiting) {
                if (answer) answer(ok);
            }
        });
    });
}

bool PulseMicrophone::query(PulseConnection& conn) {
    PulseConnection::Lock lock(conn);
    const auto deadline = PulseConnection::Clock::now() + QUERY_TIMEOUT;
    pa_context* ctx = conn.readyContext(deadline);
    if (!ctx) return false;
    Query q{&conn, {}};
    auto serverOp = pa_context_get_server_info(
        ctx,
        [](pa_context*, const pa_server_info* info, void* ud) {
            auto* query = static_cast<Query*>(ud);
            if (info && info->default_source_name) query->defaultSource = info->default_source_name;
        },
        &q);
    if (!conn.waitFor(serverOp, deadline) || q.defaultSource.empty()) return false;
    auto sourceOp = pa_context_get_source_info_by_name(
        ctx, q.defaultSource.c_str(),
        [](pa_context*, const pa_source_info* info, int eol, void* ud) {
            auto* query = static_cast<Query*>(ud);
            if (eol == 0 && info) {
                query->found = true;
                query->isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
            }
        },
        &q);
    if (!conn.waitFor(sourceOp, deadline)) return false;
    return q.found && !q.isMonitor;
}

void PulseMicrophone::request(std::function<void(bool granted)> done) {
    authorized(std::move(done));
}

}  // namespace zavren
