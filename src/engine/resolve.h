#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "shared/paths.h"
#include "shared/types.h"
#include "zavren/build_config.h"

namespace zavren {

// How to launch the engine: everything the supervisor needs, nothing it must guess.
struct Resolved {
    EngineKind kind = EngineKind::python;
    std::string exec;
    std::vector<std::string> args;           // without the executable
    std::map<std::string, std::string> env;  // laid over the program's own environment
    std::string killPath;                    // the engine's own file: its program or its script
    bool operator==(const Resolved&) const = default;
};

// The development checkout compiled in (empty: no fallback).
inline const std::string DEV_CHECKOUT = ZAVREN_DEV_CHECKOUT;

// The installed engine, else the development checkout when both its interpreter
// and its script exist, else nothing. Reads the terms file for the python flavour.
std::optional<Resolved> resolve(const Paths& paths, const std::string& devCheckout = DEV_CHECKOUT);

// The python engine's environment; the terms are read at the moment of the call.
std::map<std::string, std::string> pythonEnv(const std::string& hfHome,
                                             const std::string& termsFile);

// The full command line, shell-quoted, for display.
std::string commandLine(const Resolved& r);

}  // namespace zavren
