#include "quelby/window/inspector_window.h"

#include <nlohmann/json.hpp>

#include "quelby/assets/devtools_scheme.h"
#include "quelby/assets/frontend_url.h"
#include "quelby/core/script_call.h"
#include "quelby/discovery/ws_target.h"
#include "quelby/resources/random_token.h"
#include "quelby/webview_host/host.h"
#include "quelby/window/frontend_host_services.h"

namespace quelby {

// socket_watch.js, embedded by the build.
extern const std::string_view SOCKET_WATCH_FUNCTION;

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

// The UI thread's view of the session: which target the window is on.
struct Session {
    WsTarget target{};
};

std::string_view path_of(std::string_view address) {
    const std::size_t slash = address.find('/');
    return slash == std::string_view::npos ? std::string_view{} : address.substr(slash);
}

// Sends the window to a target the watch found; on the UI thread.
void go_to_target(const Reattach& reattach, Session& session, host::WebView& web_view,
                  const WsTarget& target) {
    auto url = reattach.frontend_url(target);
    // A target whose address cannot make a front-end URL leaves the window where it is.
    if (!url || !host::navigate(web_view, devtools_scheme_url(*url))) {
        return;
    }
    session.target = target;
    if (reattach.attached) {
        reattach.attached(target);
    }
}

}  // namespace

std::string socket_watch_script() {
    return script_call(SOCKET_WATCH_FUNCTION, nlohmann::json(SOCKET_CLOSED_MESSAGE).dump());
}

bool reports_lost_connection(std::string_view message, std::string_view ws_target) {
    if (!message.starts_with(SOCKET_CLOSED_MESSAGE)) {
        return false;
    }
    const std::string_view url = message.substr(SOCKET_CLOSED_MESSAGE.size());
    const std::optional<WsTarget> ws = split_ws_url(url, SchemeLetters::AnyCase);
    const std::string_view closed = ws ? std::string_view(ws->address) : url;
    if (closed == ws_target) {
        return true;
    }
    const std::string_view path = path_of(ws_target);
    return path.size() > 1 && path_of(closed) == path;
}

std::string webview_failure_context() {
    return "failed to create webview (is " + std::string(host::webview_runtime_name()) +
           " installed?)";
}

Result<int> run_inspector_window(const std::string& frontend_url) {
    return run_inspector_window(frontend_url, PageDiagnostics::Off, {});
}

Result<int> run_inspector_window(const std::string& frontend_url, PageDiagnostics level,
                                 const DiagnosticSink& diagnostics) {
    return run_inspector_window(frontend_url, WindowOptions{.diagnostics_level = level,
                                                            .diagnostics = diagnostics,
                                                            .reattach = std::nullopt,
                                                            .settings_file = std::nullopt});
}

// The parts of one window, released in the reverse order of their declaration: the web view, the
// watch, the services, the window. The session and the options outlive them all: the watch's
// tasks and the page's messages refer to them. Their tasks are posted bound to the parts, so that
// none runs once the window has gone while the loop runs on.
struct InspectorWindow::Parts {
    WindowOptions options;
    Session session;
    std::optional<host::Window> window;
    std::optional<FrontendHostServices> services;
    std::unique_ptr<TargetWatch> watch;
    std::optional<host::WebView> web_view;
};

InspectorWindow::InspectorWindow(std::shared_ptr<Parts> parts) : parts_(std::move(parts)) {}
InspectorWindow::~InspectorWindow() = default;

const host::WindowState* InspectorWindow::window_state() const {
    return parts_->window ? &parts_->window->state() : nullptr;
}

Result<std::unique_ptr<InspectorWindow>> InspectorWindow::open(host::EventLoop& loop,
                                                               const std::string& frontend_url,
                                                               WindowOptions options) {
    auto parts = std::make_shared<Parts>();
    const host::LoopPoster poster = host::loop_poster(loop).bound_to(parts);
    parts->options = std::move(options);
    Parts& p = *parts;
    const WindowOptions& opts = p.options;
    const PageDiagnostics level = opts.diagnostics_level;
    const DiagnosticSink& diagnostics = opts.diagnostics;
    auto window = host::create_window(loop, host::WindowAttributes{.title = opts.title});
    if (!window) {
        return std::unexpected(std::move(window).error().with_context(std::string(WINDOW_CONTEXT)));
    }
    p.window.emplace(std::move(*window));
    host::WebViewBuilder builder;
    if (level != PageDiagnostics::Off && diagnostics) {
        builder.register_scheme(
            std::string(DEVTOOLS_SCHEME_NAME),
            reporting_scheme_handler(level == PageDiagnostics::EveryRequest, diagnostics));
        builder.on_page_diagnostic(diagnostics);
    } else {
        builder.register_scheme(std::string(DEVTOOLS_SCHEME_NAME), devtools_scheme_handler);
    }
    // The front end's embedder: its script in the top-level document, its services here. Released
    // after the web view; its loads are ended and joined then.
    const std::string token = random_token();
    p.services.emplace(*p.window, poster, SettingsStore::open(opts.settings_file, diagnostics),
                       token, diagnostics);
    FrontendHostServices& services = *p.services;
    services.report_every_load(level == PageDiagnostics::EveryRequest);
    builder.add_page_script(std::string(FRONTEND_COMPAT_SCRIPT));
    builder.add_top_document_script(frontend_host_script(token, services.zoom_factor(),
                                                         std::string(DEVTOOLS_SCHEME_NAME) + ":"));
    builder.set_zoom_factor(services.zoom_factor());
    // Released after the web view and before the window; joined, so closing the window ends the
    // search.
    if (opts.reattach) {
        const Reattach& reattach = *opts.reattach;
        p.session.target = reattach.target;
        // The watch's thread only hands each target over; the UI thread does the rest. A task
        // posted after the window or the loop has gone is dropped unrun, so it never meets a
        // released web view.
        p.watch = std::make_unique<TargetWatch>(
            reattach.discover, [poster, &reattach, &p](WsTarget found) {
                static_cast<void>(poster.post([&reattach, &p, target = std::move(found)] {
                    if (p.web_view) {
                        go_to_target(reattach, p.session, *p.web_view, target);
                    }
                }));
            });
        builder.add_page_script(socket_watch_script());
    }
    builder.on_page_message([&p](std::string_view message) {
        if (message.starts_with(SOCKET_CLOSED_MESSAGE)) {
            if (p.watch && reports_lost_connection(message, p.session.target.address)) {
                p.watch->connection_lost(p.session.target);
            }
            return;
        }
        p.services->on_page_message(message);
    });
    auto webview = builder.set_url(devtools_scheme_url(frontend_url)).build(*p.window);
    if (!webview) {
        return std::unexpected(std::move(webview).error().with_context(webview_failure_context()));
    }
    p.web_view.emplace(std::move(*webview));
    services.attach(*p.web_view);
    return std::unique_ptr<InspectorWindow>(new InspectorWindow(std::move(parts)));
}

Result<int> run_inspector_window(const std::string& frontend_url, const WindowOptions& options) {
    host::EventLoop loop = host::create_event_loop();
    auto window = InspectorWindow::open(loop, frontend_url, options);
    if (!window) {
        return std::unexpected(std::move(window.error()));
    }
    // The window is released before the loop, on return.
    return host::run_event_loop(loop, on_event);
}

}  // namespace quelby
