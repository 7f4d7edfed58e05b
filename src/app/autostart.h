#pragma once

#include <string>

namespace zavren::Autostart {

// The key that marks a login entry as written by us. An entry without it belongs to
// the user or to another program and is never changed or removed.
inline const std::string MARKER_KEY = "X-Zavren-Autostart";

enum class Owner { none, ours, foreign };

struct Status {
    Owner owner = Owner::none;
    // The desktop would run the entry at login.
    bool enabled = false;
    bool operator==(const Status&) const = default;
};

// What is at file now; a symlink there is never followed and counts as foreign.
Status status(const std::string& file);

// The desktop entry that starts program at login; empty when program cannot be
// named in one (not an absolute path, or control characters in it).
std::string entry(const std::string& program);

enum class Result { on, off, notOurs, failed };

// Starts at login from now on when it did not, and stops when it did. Our own
// entry is rewritten (it may name an older program path) or removed; anything else
// at file is left alone and reported as notOurs.
Result toggle(const std::string& file, const std::string& program);

}  // namespace zavren::Autostart
