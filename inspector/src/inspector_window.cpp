#include "inspector_window.h"

#include "devtools_scheme.h"
#include "host.h"

namespace quelby {

namespace {

namespace host = webview_host;

constexpr std::string_view WINDOW_CONTEXT = "failed to create inspector window";
constexpr std::string_view WEBVIEW_CONTEXT =
    "failed to create webview (is the WebView2 runtime installed?)";

// Stateless: the loop always sleeps between events, and only the close request ends it.
void on_event(const host::Event& event, host::LoopMode& mode) {
    mode = host::LoopMode{.kind = host::LoopMode::Kind::Wait, .exit_status = 0};
    if (event.kind == host::EventKind::CloseRequested) {
        mode = host::LoopMode{.kind = host::LoopMode::Kind::Exit, .exit_status = 0};
    }
}

}  // namespace

Status run_inspector_window(const std::string& frontend_url) {
    host::EventLoop loop = host::create_event_loop();
    auto window =
        host::create_window(loop, host::WindowAttributes{.title = std::string(WINDOW_TITLE)});
    if (!window) {
        return std::unexpected(std::move(window).error().with_context(std::string(WINDOW_CONTEXT)));
    }
    auto webview = host::WebViewBuilder()
                       .register_scheme(std::string(DEVTOOLS_SCHEME_NAME), devtools_scheme_handler)
                       .set_url(frontend_url)
                       .build(*window);
    if (!webview) {
        // The window, then the loop, are released on return: reverse order of creation.
        return std::unexpected(
            std::move(webview).error().with_context(std::string(WEBVIEW_CONTEXT)));
    }
    host::run_event_loop(std::move(loop), on_event);
}

}  // namespace quelby
