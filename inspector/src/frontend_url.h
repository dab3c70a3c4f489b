// The front-end address (FrontendUrl) for a debugger address: the embedded front end's start page,
// or the user's template from the environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error_chain.h"

namespace quelby {

inline constexpr std::string_view FRONTEND_ENV = "QUELBY_INSPECTOR_FRONTEND";
inline constexpr std::string_view WS_PLACEHOLDER = "{ws}";
inline constexpr std::string_view START_PAGE = "js_app.html";
inline constexpr std::string_view FRONTEND_QUERY_TAIL = "&experiments=true&v8only=true";
// The bound on the FrontendUrl (1 MiB): a template with many "{ws}" and a long target would
// otherwise take gigabytes.
inline constexpr std::size_t FRONTEND_URL_LIMIT = std::size_t{1024} * 1024;

// The FrontendUrl from a template value: nullopt gives the default address of the embedded front
// end; otherwise every "{ws}" is replaced, left to right, without overlap. An address longer than
// FRONTEND_URL_LIMIT is refused before any of it is built.
// With `secure` the default address passes the target as "wss=" instead of "ws=".
Result<std::string> frontend_url_from(std::string_view ws_target,
                                      const std::optional<std::string>& frontend_template,
                                      bool secure = false);

// Reads FRONTEND_ENV (unset or not valid UTF-8: the default) and builds the FrontendUrl.
Result<std::string> frontend_url(std::string_view ws_target, bool secure = false);

// "the front-end URL would be {size} bytes, over the 1 MiB bound (1048576 bytes)"
std::string frontend_url_too_long_message(std::uint64_t size);

}  // namespace quelby
