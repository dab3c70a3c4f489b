// The event loop: the main thread's message queue, asleep in GetMessageW between messages.
//
// No timer thread is started: nothing in the program sets a timer, and the queue itself wakes the
// loop for every message, so a thread that only waited for deadlines would never have work.
#include <windows.h>

#include <cstdlib>

#include "host_handle_definitions.h"
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

}  // namespace

void report_event(EventLoopState& loop, EventKind kind) {
    if (loop.handler == nullptr) {
        // The loop is not running yet (messages pumped while the web view is built).
        loop.close_pending = loop.close_pending || kind == EventKind::CloseRequested;
        return;
    }
    if (loop.mode.kind == LoopMode::Kind::Exit) {
        return;  // the loop is ending with the status already asked for
    }
    loop.handler(Event{kind}, loop.mode);
    if (loop.mode.kind == LoopMode::Kind::Exit) {
        // Ends the message loop below once this message has been dispatched.
        PostQuitMessage(loop.mode.exit_status);
    }
}

EventLoop create_event_loop() {
    become_dpi_aware();
    auto state = std::make_unique<EventLoopState>();
    state->thread_id = GetCurrentThreadId();
    return EventLoop(std::move(state));
}

int run_event_loop(EventLoop& loop, EventHandler handler) {
    EventLoopState& state = loop.state();
    state.handler = handler;
    state.mode = LoopMode{};
    report_event(state, EventKind::Other);  // the loop's start
    if (state.close_pending && state.mode.kind != LoopMode::Kind::Exit) {
        state.close_pending = false;
        report_event(state, EventKind::CloseRequested);
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
    return status;
}

}  // namespace quelby::webview_host
