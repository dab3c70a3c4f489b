// The last step of the run: the inspector window with the front end in its web view, and the event
// loop that runs until the window is closed.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"
#include "quelby/discovery/ws_target.h"
#include "quelby/webview_host/host.h"
#include "quelby/window/page_diagnostics.h"
#include "quelby/window/target_watch.h"

namespace quelby {

inline constexpr std::string_view WINDOW_TITLE = "quelby \u2014 script inspector";

// The context of every failure to build the web view, naming what the platform needs installed:
// "failed to create webview (is WebKitGTK 4.1 installed?)" on Linux, "failed to create webview
// (is the WebView2 runtime installed?)" on Windows.
std::string webview_failure_context();

// What the page posts when one of its WebSockets has closed, followed by the socket's URL.
inline constexpr std::string_view SOCKET_CLOSED_MESSAGE = "websocket closed: ";

// The document-start script that reports every closed WebSocket of the page through window.ipc
// (socket_watch.js, called with SOCKET_CLOSED_MESSAGE).
std::string socket_watch_script();

// The document-start script that makes the front end lay out and behave in the web view's engine
// as it does in Chromium (frontend_compat.js).
extern const std::string_view FRONTEND_COMPAT_SCRIPT;

// Whether a page message says that the front end's connection to `ws_target` (an address without
// its ws:// or wss://) has closed. The socket's URL is the browser's normalised form of the
// address, so when the two differ as text the paths (the target's id) decide.
bool reports_lost_connection(std::string_view message, std::string_view ws_target);

// Staying attached when the debuggee restarts: on the loss of the front end's connection, the
// target is looked up again off the UI thread, and the window is sent to the new one.
struct Reattach {
    WsTarget target;  // the target the window starts on
    TargetDiscovery discover;
    // The front-end URL of a target found later, by the same rules as the first one's; its own
    // scheme decides, since the debuggee may come back under the other one.
    std::function<Result<std::string>(const WsTarget& target)> frontend_url;
    // On the UI thread, once the window has been sent to a new target.
    std::function<void(const WsTarget& target)> attached;
};

struct WindowOptions {
    PageDiagnostics diagnostics_level = PageDiagnostics::Off;
    DiagnosticSink diagnostics;
    std::optional<Reattach> reattach;  // none: the window stays on its first target
    // Where the window keeps its settings between runs; none: for this run only.
    std::optional<std::filesystem::path> settings_file;
    std::string title = std::string(WINDOW_TITLE);
};

// One window with the front end in its web view, on a loop that may serve other windows too.
// Released (web view, then search, then services, then window) on the loop's thread, before the
// loop.
class InspectorWindow {
  public:
    static Result<std::unique_ptr<InspectorWindow>> open(webview_host::EventLoop& loop,
                                                         const std::string& frontend_url,
                                                         WindowOptions options);
    InspectorWindow(const InspectorWindow&) = delete;
    InspectorWindow& operator=(const InspectorWindow&) = delete;
    ~InspectorWindow();

    // What the loop's events name this window by (Event::window).
    [[nodiscard]] const webview_host::WindowState* window_state() const;

  private:
    struct Parts;
    explicit InspectorWindow(std::shared_ptr<Parts> parts);
    // Shared only with the weak references its posted tasks hold.
    std::shared_ptr<Parts> parts_;
};

// Opens the window and runs its event loop until the window is closed; then releases the web view,
// the window and the loop, and gives the exit status the loop ended with. Returns an error chain
// when the window or the web view cannot be built.
Result<int> run_inspector_window(const std::string& frontend_url);

// The same, with the page's own failure reports and the scheme's answers ("not found" ones, or all
// of them) given to `diagnostics` as they happen.
Result<int> run_inspector_window(const std::string& frontend_url, PageDiagnostics level,
                                 const DiagnosticSink& diagnostics);

// The same with every option. The background search, if any, is stopped and joined before this
// returns.
Result<int> run_inspector_window(const std::string& frontend_url, const WindowOptions& options);

}  // namespace quelby
