// Which private schemes a web view can be given, on every backend: a well-formed lower-case name
// (a letter, then letters, digits, '+', '-' or '.') that is not one the engines serve themselves,
// registered once, with a handler.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quelby/webview_host/host.h"

namespace quelby::webview_host {

bool is_registrable_scheme(std::string_view name) noexcept;

// The first scheme the builder cannot take, as an error naming `engine` ("WebKit cannot serve the
// URI scheme \"http\" through the program"); success when every one is fine.
Status check_private_schemes(const std::vector<std::pair<std::string, SchemeHandler>>& schemes,
                             std::string_view engine);

}  // namespace quelby::webview_host
