// Every address of the front end: the URL the window opens and the console prints (FrontendUrl,
// the embedded front end's start document or the user's template from the environment), the path
// and query --serve leads browsers to, and the private scheme's own form of the embedded one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"
#include "quelby/discovery/ws_target.h"

namespace quelby {

inline constexpr std::string_view FRONTEND_ENV = "QUELBY_INSPECTOR_FRONTEND";
// The front end's start document: what the window opens, what --serve leads to, and what an empty
// request path serves.
inline constexpr std::string_view START_DOCUMENT = "js_app.html";
inline constexpr std::string_view FRONTEND_QUERY_TAIL = "&experiments=true&v8only=true";
// The bound on the FrontendUrl (1 MiB): a template with many "{ws}" and a long target would
// otherwise take gigabytes.
inline constexpr std::size_t FRONTEND_URL_LIMIT = std::size_t{1024} * 1024;

// How the target's address is written into the front end's query.
enum class AddressInQuery : std::uint8_t {
    Verbatim,        // the window's and the console's URL, as it has always been printed
    PercentEncoded,  // --serve: the query also goes into a Location header
};

// The front end's query for `target`: "?ws=ADDRESS&experiments=true&v8only=true", with "wss="
// for a secure target.
std::string frontend_query(const WsTarget& target, AddressInQuery form);

// The FrontendUrl from a template value: nullopt gives the default address of the embedded front
// end, "http://devtools.localhost/js_app.html" with frontend_query; otherwise every "{ws}" is
// replaced by the target's address, left to right, without overlap (the template is the user's to
// write, so the scheme is theirs too). An address longer than FRONTEND_URL_LIMIT is refused before
// any of it is built.
Result<std::string> frontend_url_from(const WsTarget& target,
                                      const std::optional<std::string>& frontend_template);

// Reads FRONTEND_ENV (unset or not valid UTF-8: the default) and builds the FrontendUrl.
Result<std::string> frontend_url(const WsTarget& target);

// "the front-end URL would be {size} bytes, over the 1 MiB bound (1048576 bytes)"
std::string frontend_url_too_long_message(std::uint64_t size);

// The embedded front end's address in the private scheme's own form, as the web view is given it:
// "http://devtools.localhost/x?y" -> "devtools://localhost/x?y" (scheme and host matched without
// regard to case, as URLs treat them); any other URL is returned as is.
std::string devtools_scheme_url(std::string_view url);

}  // namespace quelby
