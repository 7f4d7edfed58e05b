#pragma once

#include <filesystem>
#include <string>

#include "support/fake_engine.h"
#include "support/temp_dir.h"

// Temporary folders and engine layouts on the real file system, shared by the
// engine tests.
namespace zavren::test {

inline void makeLlama(const std::string& dir, bool executable = true) {
    writeFile(dir + "/bin/llama-server", "#!/bin/sh\n", executable);
    writeFile(dir + "/models/qwen3-asr.gguf");
    writeFile(dir + "/models/mmproj.gguf");
}

inline void makePython(const std::string& dir) {
    writeFile(dir + "/python/bin/python3.13", "#!/bin/sh\n", true);
    writeFile(dir + "/voice_server.py");
}

}  // namespace zavren::test
