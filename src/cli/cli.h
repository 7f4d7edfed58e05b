#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zavren::cli {

using Args = std::vector<std::string>;

// Runs a command-line entry when argv names one ("itn", "engine status",
// "engine install", "transcribe", "--help"); nullopt when it names none, so the
// caller starts the desktop program instead.
std::optional<int> run(int argc, char** argv);

// The entries, each in its own file. args excludes the command words.
int itnCommand(const Args& args);
int engineStatusCommand(const Args& args);
int engineInstallCommand(const Args& args);
int transcribeCommand(const Args& args);
// verb: "add", "list" or "remove".
int engineRegistryCommand(const std::string& verb, const Args& args);

}  // namespace zavren::cli
