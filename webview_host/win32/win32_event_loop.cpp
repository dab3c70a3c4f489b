// The event loop: the main thread's message queue, asleep in GetMessageW between messages.
//
// No timer thread is started: nothing in the program sets a timer, and the queue itself wakes the
// loop for every message, so a thread that only waited for deadlines would never have work.
#include <windows.h>

#include <cstdlib>

#include "quelby/webview_host/host_handle_definitions.h"
#include "win32_state.h"

namespace quelby::webview_host {

QUELBY_DEFINE_HOST_HANDLES()

namespace {

// Per-monitor DPI awareness keeps the web view sharp on scaled displays. The newest call is
// looked up at run time (Windows 10 1703+), with the older ones as fallbacks.
void become_dpi_aware() {
    using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 != nullptr) {
        const auto set_context = reinterpret_cast<SetContext>(
            reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
        if (set_context != nullptr &&
            set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != FALSE) {
            return;
        }
    }
    using SetAwareness = HRESULT(WINAPI*)(int);
    if (const HMODULE shcore =
            LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        const auto set_awareness = reinterpret_cast<SetAwareness>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")));
        constexpr int PROCESS_PER_MONITOR_DPI_AWARE = 2;
        if (set_awareness != nullptr && SUCCEEDED(set_awareness(PROCESS_PER_MONITOR_DPI_AWARE))) {
            return;
        }
    }
    SetProcessDPIAware();
}

LRESULT CALLBACK message_window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == RUN_POSTED_MESSAGE) {
        auto* loop = reinterpret_cast<EventLoopState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (loop != nullptr && loop->posts) {
            loop->posts->queue().run_queued();
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

// Without it no task can be posted: posts are then refused (the queue starts closed).
HWND create_message_window(EventLoopState& loop) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = message_window_procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = MESSAGE_WINDOW_CLASS_NAME;
    if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return nullptr;
    }
    const HWND hwnd = CreateWindowExW(0, MESSAGE_WINDOW_CLASS_NAME, L"", 0, 0, 0, 0, 0,
                                      HWND_MESSAGE, nullptr, instance, nullptr);
    if (hwnd != nullptr) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&loop));
    }
    return hwnd;
}

}  // namespace

EventLoopState::~EventLoopState() {
    // Closed first: no wake can then be posted to a window about to go.
    posts.reset();
    if (message_window != nullptr) {
        SetWindowLongPtrW(message_window, GWLP_USERDATA, 0);
        DestroyWindow(message_window);
    }
}

void report_event(EventLoopState& loop, EventKind kind, const WindowState* window) {
    if (!loop.handler) {
        // The loop is not running yet (messages pumped while the web view is built).
        if (kind == EventKind::CloseRequested && !loop.close_pending) {
            loop.close_pending = true;
            loop.close_pending_window = window;
        }
        return;
    }
    if (loop.mode.kind == LoopMode::Kind::Exit) {
        return;  // the loop is ending with the status already asked for
    }
    loop.handler(Event{.kind = kind, .window = window}, loop.mode);
    if (loop.mode.kind == LoopMode::Kind::Exit) {
        // Ends the message loop below once this message has been dispatched.
        PostQuitMessage(loop.mode.exit_status);
    }
}

EventLoop create_event_loop() {
    become_dpi_aware();
    auto state = std::make_unique<EventLoopState>();
    state->thread_id = GetCurrentThreadId();
    state->message_window = create_message_window(*state);
    // PostMessageW is thread-safe; the wake runs under the queue's lock, which closing the queue
    // also takes, so no wake reaches the window after the loop has been released.
    state->posts = std::make_unique<LoopPosts>(
        [hwnd = state->message_window](const std::weak_ptr<PostQueue>& /*queue*/) {
            PostMessageW(hwnd, RUN_POSTED_MESSAGE, 0, 0);
        });
    if (state->message_window == nullptr) {
        state->posts->queue().close();
    }
    return EventLoop(std::move(state));
}

LoopPoster loop_poster(EventLoop& loop) {
    return loop.state().posts->poster();
}

void end_event_loop(EventLoop& loop, int exit_status) {
    EventLoopState& state = loop.state();
    if (!state.handler || state.mode.kind == LoopMode::Kind::Exit) {
        return;
    }
    state.mode = LoopMode{.kind = LoopMode::Kind::Exit, .exit_status = exit_status};
    PostQuitMessage(exit_status);
}

int run_event_loop(EventLoop& loop, EventHandler handler) {
    EventLoopState& state = loop.state();
    state.handler = std::move(handler);
    state.mode = LoopMode{};
    report_event(state, EventKind::Other);  // the loop's start
    if (state.close_pending && state.mode.kind != LoopMode::Kind::Exit) {
        state.close_pending = false;
        report_event(state, EventKind::CloseRequested, state.close_pending_window);
    }
    MSG message{};
    int status = 0;
    while (true) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT: ours carries the handler's status; one from elsewhere ends the loop with 0.
            status = state.mode.kind == LoopMode::Kind::Exit ? state.mode.exit_status : 0;
            break;
        }
        if (got == -1) {
            status = 1;  // the queue itself failed; nothing more can be dispatched
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    state.handler = nullptr;
    // Tasks refer to what the loop served; none runs once it has ended.
    state.posts->queue().close();
    return status;
}

}  // namespace quelby::webview_host
