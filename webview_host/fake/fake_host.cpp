#include "quelby/webview_host/fake_host.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "quelby/webview_host/host_handle_definitions.h"
#include "quelby/webview_host/post_queue.h"

namespace quelby::webview_host {

// Wakes are counted under a lock of their own, so that the loop can sleep until one comes.
struct Wakes {
    std::mutex mutex;
    std::condition_variable arrived;
    int pending = 0;
};

struct EventLoopState {
    EventLoopState();
    ~EventLoopState();
    std::shared_ptr<Wakes> wakes = std::make_shared<Wakes>();
    std::unique_ptr<LoopPosts> posts;
    bool running = false;
    LoopMode mode;
};
struct WindowState {
    ~WindowState();
};
struct WebViewState {
    std::vector<std::pair<std::string, SchemeHandler>> schemes;
    PageDiagnosticSink diagnostics;
    PageMessageSink messages;
    ~WebViewState();
};

QUELBY_DEFINE_HOST_HANDLES()

namespace fake {
namespace {

struct Current {
    Script script;
    Record record;
    WebViewState* web_view = nullptr;  // the last one built, while it exists
    // Every window created in this test, by order of creation; null once released.
    std::vector<const WindowState*> windows;
    std::optional<std::filesystem::path> save_answer;
};

Current& current() {
    static Current state;
    return state;
}

void note(std::string call) {
    current().record.calls.push_back(std::move(call));
}

Answer copy_of(const Response& response) {
    Answer answer{.status = response.status, .headers = {}, .body = {}};
    for (const ResponseHeader& header : response.headers) {
        answer.headers.emplace_back(header.name, header.value);
    }
    answer.body.assign(response.body.begin(), response.body.end());
    return answer;
}

void send_request(const Step& step) {
    Record& record = current().record;
    const std::size_t slot = record.answers.size();
    record.answers.emplace_back();  // stays status 0 if the handler never answers
    WebViewState* view = current().web_view;
    if (view == nullptr) {
        return;
    }
    for (auto& [name, handler] : view->schemes) {
        if (name == step.scheme) {
            const Request request{.method = "GET", .uri = step.text, .headers = {}, .body = {}};
            handler("fake", request, Responder([slot](Response response) {
                        current().record.answers[slot] = copy_of(response);
                    }));
        }
    }
}

}  // namespace

void reset(Script script) {
    current().script = std::move(script);
    current().record = Record{};
    current().windows.clear();
    current().save_answer = std::nullopt;
}

const Record& record() {
    return current().record;
}

void answer_save_dialogs_with(std::optional<std::filesystem::path> answer) {
    current().save_answer = std::move(answer);
}

}  // namespace fake

EventLoopState::EventLoopState()
    : posts(std::make_unique<LoopPosts>([wakes = wakes](const std::weak_ptr<PostQueue>& /*queue*/) {
          {
              const std::scoped_lock lock(wakes->mutex);
              ++wakes->pending;
          }
          wakes->arrived.notify_all();
      })) {}

EventLoopState::~EventLoopState() {
    posts.reset();
    fake::note("release event loop");
}
WindowState::~WindowState() {
    fake::note("release window");
    auto& windows = fake::current().windows;
    std::replace(windows.begin(), windows.end(), static_cast<const WindowState*>(this),
                 static_cast<const WindowState*>(nullptr));
}
WebViewState::~WebViewState() {
    fake::note("release web view");
    if (fake::current().web_view == this) {
        fake::current().web_view = nullptr;
    }
}

std::string_view backend_name() noexcept {
    return "fake (records what is asked of it)";
}

std::string_view webview_runtime_name() noexcept {
    return "the fake engine";
}

EventLoop create_event_loop() {
    fake::note("create_event_loop");
    return EventLoop(std::make_unique<EventLoopState>());
}

Result<Window> create_window(EventLoop& /*loop*/, const WindowAttributes& attributes) {
    fake::note("create_window");
    fake::current().record.title = attributes.title;
    fake::current().record.titles.push_back(attributes.title);
    if (const auto& failure = fake::current().script.window_failure) {
        return std::unexpected(ErrorChain::from_message(*failure));
    }
    auto state = std::make_unique<WindowState>();
    fake::current().windows.push_back(state.get());
    return Window(std::move(state));
}

Result<WebView> WebViewBuilder::build(Window& /*window*/) {
    fake::note("build");
    fake::Record& record = fake::current().record;
    for (const auto& scheme : schemes_) {
        record.schemes.push_back(scheme.first);
    }
    record.url = url_;
    record.page_diagnostics = static_cast<bool>(page_diagnostics_);
    record.page_scripts = page_scripts_;
    record.top_document_scripts = top_document_scripts_;
    record.zoom_factors.push_back(zoom_factor_);
    if (const auto& failure = fake::current().script.webview_failure) {
        return std::unexpected(ErrorChain::from_message(*failure));
    }
    auto state = std::make_unique<WebViewState>();
    state->schemes = std::move(schemes_);
    state->diagnostics = std::move(page_diagnostics_);
    state->messages = std::move(page_messages_);
    fake::current().web_view = state.get();
    return WebView(std::move(state));
}

Status navigate(WebView& /*web_view*/, const std::string& url) {
    fake::note("navigate");
    fake::current().record.navigations.push_back(url);
    return {};
}

Status post_to_page(WebView& /*web_view*/, std::string_view text) {
    fake::current().record.to_page.emplace_back(text);
    return {};
}

Status set_zoom_factor(WebView& /*web_view*/, double factor) {
    fake::current().record.zoom_factors.push_back(factor);
    return {};
}

Status open_with_default_application(Window& /*window*/, const std::string& uri) {
    fake::current().record.opened.push_back(uri);
    return {};
}

Result<std::optional<std::filesystem::path>> ask_save_path(Window& /*window*/,
                                                           const std::string& suggested_name) {
    fake::Record& record = fake::current().record;
    record.save_suggestions.push_back(suggested_name);
    return fake::current().save_answer;
}

LoopPoster loop_poster(EventLoop& loop) {
    return loop.state().posts->poster();
}

namespace fake {
namespace {

bool run_posted_until(EventLoopState& loop, const std::function<bool()>& done,
                      std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        {
            std::unique_lock lock(loop.wakes->mutex);
            if (!loop.wakes->arrived.wait_until(lock, deadline,
                                                [&] { return loop.wakes->pending > 0; })) {
                return false;
            }
            loop.wakes->pending = 0;
        }
        loop.posts->queue().run_queued();
    }
    return true;
}

const WindowState* window_at(std::size_t index) {
    const auto& windows = current().windows;
    return index < windows.size() ? windows[index] : nullptr;
}

// Runs posted tasks as they arrive until one of them has navigated, or AWAIT_LIMIT has passed.
void await_navigation(EventLoopState& loop) {
    const Record& record = current().record;
    const std::size_t before = record.navigations.size();
    run_posted_until(
        loop, [&] { return record.navigations.size() != before; }, AWAIT_LIMIT);
}

}  // namespace

bool run_posted_tasks_until(EventLoop& loop, const std::function<bool()>& done,
                            std::chrono::milliseconds limit) {
    return run_posted_until(loop.state(), done, limit);
}

}  // namespace fake

void end_event_loop(EventLoop& loop, int exit_status) {
    EventLoopState& state = loop.state();
    if (state.running && state.mode.kind != LoopMode::Kind::Exit) {
        state.mode = LoopMode{.kind = LoopMode::Kind::Exit, .exit_status = exit_status};
    }
}

int run_event_loop(EventLoop& loop, EventHandler handler) {
    fake::note("run_event_loop");
    EventLoopState& state = loop.state();
    state.running = true;
    state.mode = LoopMode{};
    LoopMode& mode = state.mode;
    const auto deliver = [&](EventKind kind, const WindowState* window) {
        handler(Event{.kind = kind, .window = window}, mode);
        fake::current().record.modes.push_back(mode.kind);
    };
    deliver(EventKind::Other, nullptr);  // the loop's start
    for (const fake::Step& step : fake::current().script.steps) {
        if (mode.kind == LoopMode::Kind::Exit) {
            break;
        }
        switch (step.kind) {
            case fake::Step::Kind::Event:
                deliver(step.event, fake::window_at(step.window));
                break;
            case fake::Step::Kind::Request:
                fake::send_request(step);
                break;
            case fake::Step::Kind::PageDiagnostic:
                if (fake::current().web_view != nullptr && fake::current().web_view->diagnostics) {
                    fake::current().web_view->diagnostics(step.text);
                }
                break;
            case fake::Step::Kind::PageMessage:
                if (fake::current().web_view != nullptr && fake::current().web_view->messages) {
                    fake::current().web_view->messages(step.text);
                }
                break;
            case fake::Step::Kind::AwaitNavigation:
                fake::await_navigation(loop.state());
                break;
        }
    }
    state.running = false;
    loop.state().posts->queue().close();
    return mode.kind == LoopMode::Kind::Exit ? mode.exit_status : fake::LOOP_NEVER_ENDED;
}

}  // namespace quelby::webview_host
