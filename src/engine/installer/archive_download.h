#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/installer/partial_file.h"
#include "engine/manifest.h"
#include "platform/http.h"

namespace zavren {

// How a transfer into the partial file ended. `failure` is the sentence for the
// user; without it the file holds exactly asset.size bytes hashing to `digest`.
struct DownloadOutcome {
    std::optional<std::string> failure;
    std::string digest;
    std::int64_t received = 0;
};

// Streams the archive into the partial file, resuming from what `file` already
// holds. What arrives before an interruption stays as an exact prefix of the
// archive; bytes past asset.size are never written. `progress` (bytes on disk or
// in hand, never above asset.size) and `done` run on the HTTP thread; `progress`
// returning false ends the transfer.
std::shared_ptr<HttpTask> downloadArchive(HttpClient& http, const EngineManifest::Asset& asset,
                                          PartialFile file, std::string partialPath,
                                          std::function<bool(std::int64_t)> progress,
                                          std::function<void(DownloadOutcome)> done);

// "sha256" as a manifest may write it: 64 hex digits in any case, lower-cased;
// nullopt for anything else.
std::optional<std::string> normalisedSha256(const std::string& text);

}  // namespace zavren
