#include "engine/resolve.h"

#include <sys/stat.h>

#include <filesystem>

#include "engine/locator.h"
#include "shared/constants.h"
#include "text/terms.h"

namespace zavren {

namespace fs = std::filesystem;

namespace {

std::string join(const std::string& dir, const char* rel) {
    return (fs::path(dir) / rel).string();
}

bool fileExists(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

Resolved python(const std::string& exec, const std::string& script, const std::string& hfHome,
                const std::string& termsFile) {
    return {EngineKind::python, exec, {script}, pythonEnv(hfHome, termsFile), script};
}

std::string quoted(const std::string& s) {
    if (!s.empty() && s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789/._-+=:,@%") == std::string::npos)
        return s;
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

}  // namespace

std::map<std::string, std::string> pythonEnv(const std::string& hfHome,
                                             const std::string& termsFile) {
    return {{"HF_HOME", hfHome},
            {"HF_HUB_OFFLINE", "1"},
            {"TRANSFORMERS_OFFLINE", "1"},
            {"ZAVREN_PORT", std::to_string(PORT)},
            {"ZAVREN_TERMS", loadUserTerms(termsFile)}};
}

std::optional<Resolved> resolve(const Paths& paths, const std::string& devCheckout) {
    if (auto engine = EngineLocator::installed(EngineLocator::root(paths))) {
        const std::string& d = engine->dir;
        if (engine->kind == EngineKind::llama) {
            const std::string exec = join(d, "bin/llama-server");
            return Resolved{EngineKind::llama,
                            exec,
                            {"-m", join(d, "models/qwen3-asr.gguf"), "--mmproj",
                             join(d, "models/mmproj.gguf"), "--host", LOOPBACK_HOST, "--port",
                             std::to_string(PORT), "-c", "4096", "--parallel", "1"},
                            {},
                            exec};
        }
        return python(join(d, "python/bin/python3.13"), join(d, "voice_server.py"),
                      join(d, "models"), paths.termsFile);
    }
    // A relative checkout would depend on the working directory: never taken.
    if (devCheckout.empty() || devCheckout.front() != '/') return std::nullopt;
    const std::string interpreter = join(devCheckout, "spike/python/bin/python3.13");
    const std::string script = join(devCheckout, "voice_server.py");
    if (!fileExists(interpreter) || !fileExists(script)) return std::nullopt;
    return python(interpreter, script, join(devCheckout, "spike/models"), paths.termsFile);
}

std::string commandLine(const Resolved& r) {
    std::string line = quoted(r.exec);
    for (const auto& a : r.args) line += " " + quoted(a);
    return line;
}

}  // namespace zavren
