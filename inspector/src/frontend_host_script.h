// The front end's embedder script (frontend_host.js), embedded by the build as its text. It is one
// expression, a function that the window and the --serve start page each call with their own
// configuration.
#pragma once

#include <string_view>

namespace quelby {

extern const std::string_view FRONTEND_HOST_SCRIPT;

}  // namespace quelby
