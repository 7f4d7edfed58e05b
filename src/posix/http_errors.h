#pragma once

#include <curl/curl.h>

#include "platform/http.h"

namespace zavren {

// The user-facing error for a failed curl transfer. The descriptions are short
// Chinese phrases without final punctuation, because callers embed them in
// longer sentences.
HttpError httpErrorFor(CURLcode code);
HttpError httpError(HttpError::Kind kind);

}  // namespace zavren
