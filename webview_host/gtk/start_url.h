// WebKitGTK will not let a program serve http itself, so the front end's address, which names the
// private scheme as the host "devtools." over http, is turned into the scheme's own form.
#pragma once

#include <string>
#include <string_view>

namespace quelby::webview_host::gtk {

inline constexpr std::string_view HTTP_SCHEME_HOST_PREFIX = "http://devtools.";
inline constexpr std::string_view PRIVATE_SCHEME_PREFIX = "devtools://";

// "http://devtools.localhost/x?y" -> "devtools://localhost/x?y"; any other URL is returned as is.
// The scheme and host are matched without regard to case, as URLs treat them.
std::string navigation_url(std::string_view url);

}  // namespace quelby::webview_host::gtk
