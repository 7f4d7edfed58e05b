#pragma once

namespace zavren {

enum class RecState { idle, listening, transcribing };

enum class EngineState { starting, ready, failed };

enum class EngineKind { python, llama };

const char* toString(RecState s);
const char* toString(EngineState s);
const char* toString(EngineKind k);

}  // namespace zavren
