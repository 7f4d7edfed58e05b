#pragma once

namespace zavren {

enum class RecState { idle, listening, transcribing };

// notInstalled: no engine resolves, so there is nothing to start.
enum class EngineState { starting, ready, failed, notInstalled };

enum class EngineKind { python, llama };

const char* toString(RecState s);
const char* toString(EngineState s);
const char* toString(EngineKind k);

}  // namespace zavren
