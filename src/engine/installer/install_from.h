#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "engine/installer/phase.h"
#include "engine/manifest.h"

// Installing an engine fetched on another machine: an engine.json and the archive
// it names, side by side in one folder. Nothing goes over the network.
namespace zavren::InstallFrom {

struct Package {
    std::string manifest;  // the engine.json read
    std::string archive;   // beside it, named by the last segment of the manifest's URL
    EngineManifest::Asset asset;
    std::string version;  // as the manifest announces it
};

// `path` is the folder holding engine.json, or engine.json itself. A sentence for
// the user when no usable package is there.
std::variant<Package, std::string> locate(const std::string& path);

// The archive's file name from its URL: the last path segment, percent-decoded;
// nullopt when that is no plain file name.
std::optional<std::string> archiveName(const std::string& url);

// Copies the archive into root while hashing it, checks size and SHA-256 against
// the manifest exactly as a download is checked, then unpacks the copy, so that
// what is unpacked is what was verified. Reports Verifying and Extracting through
// `progress`; returns Done or Failed. Blocking: run it off the main thread.
InstallPhase install(const Package& package, const std::string& root,
                     const std::function<void(const InstallPhase&)>& progress = {});

}  // namespace zavren::InstallFrom
