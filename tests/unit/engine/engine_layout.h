#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

// Temporary folders and engine layouts on the real file system, shared by the
// engine tests.
namespace zavren::testing {

struct TempDir {
    std::string path;
    TempDir() {
        std::string t = std::filesystem::temp_directory_path().string() + "/zavren-engine-XXXXXX";
        path = ::mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

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
