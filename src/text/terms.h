#pragma once

#include <string>

namespace zavren {

// The user's terms as one line: file order, single ASCII spaces, no leading or
// trailing space. Reads the file at every call; empty when the file is missing,
// unreadable or not valid UTF-8.
std::string loadUserTerms(const std::string& termsFile);

}  // namespace zavren
