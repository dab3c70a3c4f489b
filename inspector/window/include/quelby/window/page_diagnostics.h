// The window's diagnostics switch: when it is on, what the front end reports about its own failures
// (uncaught errors, unhandled rejections, console errors) and every file it asks for that the
// program does not carry are written to standard error, so that an incompatibility between the
// front end and the web engine shows at once. Off by default: nothing is printed then.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quelby {

inline constexpr std::string_view PAGE_DIAGNOSTICS_ENV = "QUELBY_INSPECTOR_PAGE_DIAGNOSTICS";

// Receives one diagnostic text at a time.
using DiagnosticSink = std::function<void(std::string_view)>;

// What the switch asks for: nothing; the page's failures and the files it misses; or those and
// every file it is served, in order (where the time of a start-up goes).
enum class PageDiagnostics { Off, Failures, EveryRequest };

// Off when unset, empty or "0"; every request for "requests"; failures for any other value.
PageDiagnostics page_diagnostics_level(const std::optional<std::string>& value);

// One diagnostic as the lines written to standard error, ending in a line feed. The page's text
// may hold anything: it is quoted as any peer text is (quote_peer_text: control characters other
// than the layout ones written as <U+001B>, at most 64 KiB), and every further line is indented,
// so that a page cannot forge or garble the program's own lines.
std::string format_page_diagnostic(std::string_view text);

}  // namespace quelby
