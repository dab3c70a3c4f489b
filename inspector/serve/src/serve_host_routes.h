// What --serve adds for the front end's embedder in a browser: a start page that loads the embedder
// before the front end, the embedder script, and local files for the page, only for requests that
// carry the run's secret. Text rules only; the server sends the answers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quelby::serve {

// The start page: the front end's own js_app.html, with the embedder's script before its first
// script. The embedded js_app.html itself stays as it is, at its own path.
inline constexpr std::string_view SERVED_START_PATH = "/inspector.html";
inline constexpr std::string_view HOST_SCRIPT_PATH = "/quelby-host/frontend_host.js";
inline constexpr std::string_view HOST_FILE_PATH = "/quelby-host/file";
// The start page's query parameter that holds the run's secret (the front end ignores it).
inline constexpr std::string_view SECRET_PARAMETER = "host";

std::string start_page_html(std::string_view js_app_html);

// The embedder script as a browser runs it: the secret is read from the page's own URL.
std::string served_host_script();

// The path of a request target, without its query.
std::string_view target_path(std::string_view target);

// The value of a query parameter of a request target, percent-decoded ('+' is a space); nullopt
// when absent or badly escaped.
std::optional<std::string> query_parameter(std::string_view target, std::string_view name);

// Compares in time that depends on the lengths only, so that the secret cannot be found a byte at
// a time by timing.
bool same_secret(std::string_view given, std::string_view secret);

}  // namespace quelby::serve
