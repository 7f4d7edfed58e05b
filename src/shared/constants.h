#pragma once

#include <string>

#include "zavren/build_config.h"

namespace zavren {

inline constexpr int PORT = 8765;
inline const std::string LOOPBACK_HOST = "127.0.0.1";
inline const std::string SERVER = "http://127.0.0.1:" + std::to_string(PORT) + "/";
inline const std::string HEALTH = "http://127.0.0.1:" + std::to_string(PORT) + "/health";
inline const std::string CHAT_URL =
    "http://127.0.0.1:" + std::to_string(PORT) + "/v1/chat/completions";

inline const std::string APP_VERSION = ZAVREN_APP_VERSION;
inline const std::string CONTACT = ZAVREN_CONTACT;
// Key of the engine archive for this build in the manifest's "platforms" map.
inline const std::string ENGINE_ARCH = ZAVREN_ENGINE_ARCH;

// Used when a bundle has no identifier; on Linux it names the single-instance lock.
inline const std::string BUNDLE_ID = "ai.zavren.app";

inline const std::string LOG_PREFIX = "ZAVREN: ";

}  // namespace zavren
