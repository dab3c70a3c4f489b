// The front end's embedder script (frontend_host.js), embedded by the build as its text. It is one
// expression, a function that the window and the --serve start page each call with their own
// configuration.
#pragma once

#include <string>
#include <string_view>

namespace quelby {

extern const std::string_view FRONTEND_HOST_SCRIPT;

// The script called with `configuration`, a JavaScript expression giving its configuration object.
std::string frontend_host_call(std::string_view configuration);

}  // namespace quelby
