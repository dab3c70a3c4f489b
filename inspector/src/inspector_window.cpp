#include "inspector_window.h"

#include "devtools_scheme.h"
#include "host.h"

namespace quelby {

namespace {

namespace host = webview_host;

constexpr std::string_view WINDOW_CONTEXT = "failed to create inspector window";
constexpr int NOT_FOUND_STATUS = 404;

// Stateless: the loop always sleeps between events, and only the close request ends it.
void on_event(const host::Event& event, host::LoopMode& mode) {
    mode = host::LoopMode{.kind = host::LoopMode::Kind::Wait, .exit_status = 0};
    if (event.kind == host::EventKind::CloseRequested) {
        mode = host::LoopMode{.kind = host::LoopMode::Kind::Exit, .exit_status = 0};
    }
}

// The scheme handler, reporting each request it answers "not found" (a file the front end needs
// that the program does not carry), or every request it answers.
host::SchemeHandler reporting_scheme_handler(bool every_request,
                                             const DiagnosticSink& diagnostics) {
    return [every_request, diagnostics](std::string_view webview_id, const host::Request& request,
                                        host::Responder responder) {
        // Copies: a responder may answer after the handler has returned. Only paid with the
        // switch on.
        host::Responder watched([every_request, diagnostics, uri = request.uri,
                                 inner = std::move(responder)](host::Response response) mutable {
            if (response.status == NOT_FOUND_STATUS) {
                diagnostics("not found: " + uri);
            } else if (every_request) {
                diagnostics("served " + std::to_string(response.status) + ": " + uri);
            }
            inner.respond(response);
        });
        devtools_scheme_handler(webview_id, request, std::move(watched));
    };
}

}  // namespace

std::string webview_failure_context() {
    return "failed to create webview (is " + std::string(host::webview_runtime_name()) +
           " installed?)";
}

Result<int> run_inspector_window(const std::string& frontend_url) {
    return run_inspector_window(frontend_url, PageDiagnostics::Off, {});
}

Result<int> run_inspector_window(const std::string& frontend_url, PageDiagnostics level,
                                 const DiagnosticSink& diagnostics) {
    host::EventLoop loop = host::create_event_loop();
    auto window =
        host::create_window(loop, host::WindowAttributes{.title = std::string(WINDOW_TITLE)});
    if (!window) {
        return std::unexpected(std::move(window).error().with_context(std::string(WINDOW_CONTEXT)));
    }
    host::WebViewBuilder builder;
    if (level != PageDiagnostics::Off && diagnostics) {
        builder.register_scheme(
            std::string(DEVTOOLS_SCHEME_NAME),
            reporting_scheme_handler(level == PageDiagnostics::EveryRequest, diagnostics));
        builder.on_page_diagnostic(diagnostics);
    } else {
        builder.register_scheme(std::string(DEVTOOLS_SCHEME_NAME), devtools_scheme_handler);
    }
    auto webview = builder.set_url(devtools_scheme_url(frontend_url)).build(*window);
    if (!webview) {
        // The window, then the loop, are released on return: reverse order of creation.
        return std::unexpected(std::move(webview).error().with_context(webview_failure_context()));
    }
    // The web view, the window and the loop are released on return, in that order.
    return host::run_event_loop(loop, on_event);
}

}  // namespace quelby
