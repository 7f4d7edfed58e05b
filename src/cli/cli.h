#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zavren::cli {

using Args = std::vector<std::string>;

// Runs the command-line entry argv names; nullopt when argv holds no command
// (nothing, or only the desktop toolkit's own options), so the caller starts the
// desktop program. Anything else unknown is a usage error (2).
std::optional<int> run(int argc, char** argv);

// The entries, each a row in the table of cli.cpp. args excludes the command words.
int itnCommand(const Args& args);
int engineStatusCommand(const Args& args);
int engineInstallCommand(const Args& args);
int engineAddCommand(const Args& args);
int engineListCommand(const Args& args);
int engineRemoveCommand(const Args& args);
int transcribeCommand(const Args& args);

}  // namespace zavren::cli
