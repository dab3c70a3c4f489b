// The last step of the run: the inspector window with the front end in its web view, and the event
// loop that runs until the window is closed.
#pragma once

#include <string>

#include "error_chain.h"
#include "page_diagnostics.h"

namespace quelby {

inline constexpr std::string_view WINDOW_TITLE = "quelby \u2014 script inspector";

// The context of every failure to build the web view, naming what the platform needs installed:
// "failed to create webview (is WebKitGTK 4.1 installed?)" on Linux, "failed to create webview
// (is the WebView2 runtime installed?)" on Windows.
std::string webview_failure_context();

// Opens the window and runs its event loop until the window is closed; then releases the web view,
// the window and the loop, and gives the exit status the loop ended with. Returns an error chain
// when the window or the web view cannot be built.
Result<int> run_inspector_window(const std::string& frontend_url);

// The same, with the page's own failure reports and the scheme's answers ("not found" ones, or all
// of them) given to `diagnostics` as they happen.
Result<int> run_inspector_window(const std::string& frontend_url, PageDiagnostics level,
                                 const DiagnosticSink& diagnostics);

}  // namespace quelby
