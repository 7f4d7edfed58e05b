#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace zavren::test {

// The fake engine's path, from the build; empty where it was not built.
inline std::string fakeEngine() {
#ifdef ZAVREN_FAKE_ENGINE
    return ZAVREN_FAKE_ENGINE;
#else
    return {};
#endif
}

inline void writeFile(const std::string& path, const std::string& text = "x", bool exec = false) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), exec ? 0755 : 0644);
}

// Installs the fake engine as an engine folder: its programs are links to the fake,
// and its behaviour script is the model (llama) or script (python) file.
inline void installFakeEngine(const std::string& dir, bool llama,
                              const std::string& script = "{}") {
    namespace fs = std::filesystem;
    if (llama) {
        fs::create_directories(dir + "/bin");
        fs::create_symlink(fakeEngine(), dir + "/bin/llama-server");
        writeFile(dir + "/models/qwen3-asr.gguf", script);
        writeFile(dir + "/models/mmproj.gguf");
    } else {
        fs::create_directories(dir + "/python/bin");
        fs::create_symlink(fakeEngine(), dir + "/python/bin/python3.13");
        writeFile(dir + "/voice_server.py", script);
    }
}

}  // namespace zavren::test
