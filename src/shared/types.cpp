#include "shared/types.h"

namespace zavren {

const char* toString(RecState s) {
    switch (s) {
        case RecState::idle:
            return "idle";
        case RecState::listening:
            return "listening";
        case RecState::transcribing:
            return "transcribing";
    }
    return "?";
}

const char* toString(EngineState s) {
    switch (s) {
        case EngineState::starting:
            return "starting";
        case EngineState::ready:
            return "ready";
        case EngineState::failed:
            return "failed";
        case EngineState::notInstalled:
            return "notInstalled";
    }
    return "?";
}

const char* toString(EngineKind k) {
    switch (k) {
        case EngineKind::python:
            return "python";
        case EngineKind::llama:
            return "llama";
    }
    return "?";
}

}  // namespace zavren
