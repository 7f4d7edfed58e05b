#pragma once

namespace zavren::trace {

// Opt-in latency trace for measuring the dictation path: with ZAVREN_TRACE set
// (and not "0"), each mark writes "zavren-trace <CLOCK_MONOTONIC seconds> <what>
// [value]" to stderr in one write. Off, a mark costs a test of a cached flag.
bool enabled();
void mark(const char* what);
void mark(const char* what, long long value);

}  // namespace zavren::trace
