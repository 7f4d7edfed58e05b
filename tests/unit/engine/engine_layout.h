#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

// Temporary folders and engine layouts on the real file system, shared by the
// engine tests.
namespace zavren::testing {

using TempDir = test::TempDir;

inline void writeFile(const std::string& path, const std::string& text = "x", bool exec = false) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), exec ? 0755 : 0644);
}

inline void makeLlama(const std::string& dir, bool executable = true) {
    writeFile(dir + "/bin/llama-server", "#!/bin/sh\n", executable);
    writeFile(dir + "/models/qwen3-asr.gguf");
    writeFile(dir + "/models/mmproj.gguf");
}

inline void makePython(const std::string& dir) {
    writeFile(dir + "/python/bin/python3.13", "#!/bin/sh\n", true);
    writeFile(dir + "/voice_server.py");
}

}  // namespace zavren::testing
