#include "pulse/pulse_microphone.h"

#include <chrono>
#include <string>

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

PulseMicrophone::PulseMicrophone(std::shared_ptr<PulseConnection> connection)
    : conn_(connection ? std::move(connection) : std::make_shared<PulseConnection>()) {
    conn_->warmUp();
}

bool PulseMicrophone::authorized() {
    PulseConnection::Lock lock(*conn_);
    const auto deadline = PulseConnection::Clock::now() + QUERY_TIMEOUT;
    pa_context* ctx = conn_->readyContext(deadline);
    if (!ctx) return false;
    Query q{conn_.get(), {}};
    auto serverOp = pa_context_get_server_info(
        ctx,
        [](pa_context*, const pa_server_info* info, void* ud) {
            auto* query = static_cast<Query*>(ud);
            if (info && info->default_source_name) query->defaultSource = info->default_source_name;
        },
        &q);
    if (!conn_->waitFor(serverOp, deadline) || q.defaultSource.empty()) return false;
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
    if (!conn_->waitFor(sourceOp, deadline)) return false;
    return q.found && !q.isMonitor;
}

void PulseMicrophone::request(std::function<void(bool granted)> done) {
    const bool granted = authorized();
    if (done) done(granted);
}

}  // namespace zavren
