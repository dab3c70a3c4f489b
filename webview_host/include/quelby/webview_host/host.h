// The thin windowing and web-view layer: one interface, one backend per platform (the build picks
// the backend's sources). Every operation here runs on the process's main thread, except
// LoopPoster::post, which any thread may call.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quelby/core/error_chain.h"

namespace quelby::webview_host {

struct Header {
    std::string name;
    std::string value;
};

// A request for a registered private scheme, as the backend received it.
struct Request {
    std::string method;
    // The full URI in the scheme's own form, e.g. "devtools://localhost/js_app.html?ws=...".
    std::string uri;
    std::vector<Header> headers;
    std::vector<std::uint8_t> body;
};

// A response header. The views are read only while the responder completes its request, so they
// may refer to the caller's temporaries, and constants cost no allocation at all.
struct ResponseHeader {
    std::string_view name;
    std::string_view value;
};

// The answer to one request. `headers` are read while the request is being completed; `body` is
// not copied: it must stay valid for the life of the process (embedded data or a constant), which
// is what lets the backends serve it by reference.
struct Response {
    int status = 200;
    std::span<const ResponseHeader> headers;
    std::span<const std::uint8_t> body;
};

// Completes one request, once. It may be called after the handler has returned; a responder that
// is destroyed without having answered completes its request with status 500, so nothing hangs.
class Responder {
  public:
    using Completion = std::move_only_function<void(Response)>;

    explicit Responder(Completion completion) : completion_(std::move(completion)) {}
    Responder(Responder&& other) noexcept : completion_(std::move(other.completion_)) {
        other.completion_ = nullptr;
    }
    Responder& operator=(Responder&& other) noexcept;
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;
    ~Responder();

    // The first call completes the request; any later call is ignored.
    void respond(Response response);
    [[nodiscard]] bool answered() const noexcept { return !completion_; }

  private:
    void answer_unanswered() noexcept;
    Completion completion_;
};

// Called with (web-view identifier, request, responder) on the main thread.
using SchemeHandler = std::function<void(std::string_view, const Request&, Responder)>;

// What a page reports about its own failures (uncaught errors, unhandled promise rejections,
// console errors), one text per report, on the main thread. The text is the page's: it may hold
// any character.
using PageDiagnosticSink = std::function<void(std::string_view)>;

// What a page posts through window.ipc.postMessage(text), one text per message, on the main
// thread. Any page may post anything: the text is untrusted.
using PageMessageSink = std::function<void(std::string_view)>;

// Work handed to the loop's thread from another thread.
using LoopTask = std::move_only_function<void()>;
class PostQueue;

struct WindowAttributes {
    std::string title;  // UTF-8
};

enum class EventKind { CloseRequested, Other };

struct WindowState;

struct Event {
    EventKind kind = EventKind::Other;
    // The window the event concerns (the one the user asked to close), as
    // `&window.state()`; null for events of the loop itself.
    const WindowState* window = nullptr;
};

// What the handler asks of the loop after each event.
struct LoopMode {
    enum class Kind { Wait, Exit };
    Kind kind = Kind::Wait;
    int exit_status = 0;
};

// Called on the main thread for each event; with several windows it tells them apart by
// Event::window.
using EventHandler = std::function<void(const Event&, LoopMode&)>;

// Backend-defined state behind each handle. A web view refers to its window and a window to its
// loop without owning them: release handles in the reverse order of their creation (web view,
// window, loop), as a frame that creates them in order does by itself.
struct EventLoopState;
struct WindowState;
struct WebViewState;

class EventLoop {
  public:
    explicit EventLoop(std::unique_ptr<EventLoopState> state);
    EventLoop(EventLoop&&) noexcept;
    EventLoop& operator=(EventLoop&&) noexcept;
    ~EventLoop();
    [[nodiscard]] EventLoopState& state() const { return *state_; }

  private:
    std::unique_ptr<EventLoopState> state_;
};

class Window {
  public:
    explicit Window(std::unique_ptr<WindowState> state);
    Window(Window&&) noexcept;
    Window& operator=(Window&&) noexcept;
    ~Window();
    [[nodiscard]] WindowState& state() const { return *state_; }

  private:
    std::unique_ptr<WindowState> state_;
};

class WebView {
  public:
    explicit WebView(std::unique_ptr<WebViewState> state);
    WebView(WebView&&) noexcept;
    WebView& operator=(WebView&&) noexcept;
    ~WebView();
    [[nodiscard]] WebViewState& state() const { return *state_; }

  private:
    std::unique_ptr<WebViewState> state_;
};

// The backend's name as --version shows it. A constant: answering loads no GUI library.
std::string_view backend_name() noexcept;
// What a user installs to give this backend its web engine, as a failure to build the web view
// names it: "WebKitGTK 4.1", "the WebView2 runtime".
std::string_view webview_runtime_name() noexcept;

// Only on the main thread.
EventLoop create_event_loop();

Result<Window> create_window(EventLoop& loop, const WindowAttributes& attributes);

class WebViewBuilder {
  public:
    WebViewBuilder& register_scheme(std::string name, SchemeHandler handler) {
        schemes_.emplace_back(std::move(name), std::move(handler));
        return *this;
    }
    WebViewBuilder& set_url(std::string url) {
        url_ = std::move(url);
        return *this;
    }
    // Off unless given: watching the page costs a document-start script in every frame.
    WebViewBuilder& on_page_diagnostic(PageDiagnosticSink sink) {
        page_diagnostics_ = std::move(sink);
        return *this;
    }
    // Messages the page posts through window.ipc; without a sink they are dropped.
    WebViewBuilder& on_page_message(PageMessageSink sink) {
        page_messages_ = std::move(sink);
        return *this;
    }
    // A script run at the start of every document, in every frame, after window.ipc is defined
    // and before the page's own scripts; scripts run in the order they were added.
    WebViewBuilder& add_page_script(std::string source) {
        page_scripts_.push_back(std::move(source));
        return *this;
    }
    // Like add_page_script, but only in the top-level document, never in a frame inside it: for
    // scripts that hold what no other document may see.
    WebViewBuilder& add_top_document_script(std::string source) {
        top_document_scripts_.push_back(std::move(source));
        return *this;
    }
    // The web view's zoom factor from the start (1.0 is 100%).
    WebViewBuilder& set_zoom_factor(double factor) {
        zoom_factor_ = factor;
        return *this;
    }
    // The web view fills the window's client area, follows its size and navigates to the URL.
    Result<WebView> build(Window& window);

  private:
    std::vector<std::pair<std::string, SchemeHandler>> schemes_;
    std::string url_;
    PageDiagnosticSink page_diagnostics_;
    PageMessageSink page_messages_;
    std::vector<std::string> page_scripts_;
    std::vector<std::string> top_document_scripts_;
    double zoom_factor_ = 1.0;
};

// Navigates the web view to `url`, given in the same form as WebViewBuilder::set_url (a registered
// scheme's own form). Only on the main thread.
Status navigate(WebView& web_view, const std::string& url);

// Hands `text` to the page: each listener the page added with window.ipc.addMessageListener(fn) is
// called with it, in order of addition. Text that is not UTF-8 has its broken sequences replaced
// by U+FFFD. Messages arrive in the order sent. Only on the main thread.
Status post_to_page(WebView& web_view, std::string_view text);

// Sets the web view's zoom factor (1.0 is 100%). Only on the main thread.
Status set_zoom_factor(WebView& web_view, double factor);

// Opens `uri` with the desktop's default application for its scheme (the user's browser for
// http and https) and returns once it has been handed over. Only on the main thread.
Status open_with_default_application(Window& window, const std::string& uri);

// A native, modal Save dialog on `window`, proposing `suggested_name` in the user's usual folder;
// a file that exists is only chosen after the user confirms replacing it. The path chosen, or
// nullopt when the user cancelled. Only on the main thread: the loop keeps dispatching while the
// dialog is open.
Result<std::optional<std::filesystem::path>> ask_save_path(Window& window,
                                                           const std::string& suggested_name);

// Hands tasks to the loop's thread from any thread. Copies share one queue.
//
// Lifetime: a task runs on the loop's thread the next time the loop dispatches (while
// run_event_loop runs, or while a backend pumps messages to build the web view), in the order
// posted. Once run_event_loop has returned, or the loop has been released, a post is refused and
// its task destroyed at once on the posting thread; tasks still queued then are destroyed on the
// main thread without running. So a task may refer to the window and the web view: it never runs
// after the loop that could still use them has ended.
//
// A window that goes while the loop runs on (one of several) posts through a poster bound to
// itself: its tasks then run only while it lives.
class LoopPoster {
  public:
    explicit LoopPoster(std::shared_ptr<PostQueue> queue) : queue_(std::move(queue)) {}
    // Thread-safe. False when the task was refused (see above), or when the owner the poster is
    // bound to has gone.
    bool post(LoopTask task) const;

    // The same queue, for tasks that refer to `owner`: a task whose owner has gone by the time it
    // would run is destroyed unrun. The owner must be released on the loop's thread, so that it
    // cannot go while one of its tasks runs.
    [[nodiscard]] LoopPoster bound_to(std::weak_ptr<const void> owner) const;

  private:
    std::shared_ptr<PostQueue> queue_;
    std::weak_ptr<const void> owner_;
    bool bound_ = false;
};

// Only on the main thread.
LoopPoster loop_poster(EventLoop& loop);

// Ends the running loop as if its handler had asked for Exit with `exit_status`: for an end that
// no window event brings (the last of several windows went away by the program's own decision).
// Only on the main thread, while run_event_loop runs; ignored once the loop is ending.
void end_event_loop(EventLoop& loop, int exit_status);

// Runs until the handler asks the loop to exit, and returns the exit status it asked for (0 when
// the system ends the loop itself). The window and the web view are still there afterwards; the
// caller releases them, web view first.
int run_event_loop(EventLoop& loop, EventHandler handler);

}  // namespace quelby::webview_host
