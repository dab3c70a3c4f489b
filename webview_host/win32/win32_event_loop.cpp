// The event loop: the main thread's message queue, asleep in GetMessageW between messages.
//
// No timer thread is started: nothing in the program sets a timer, and the queue itself wakes the
// loop for every message, so a thread that only waited for deadlines would never have work.
#include <windows.h>

#include <cstdlib>

#include "handle_members.h"
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

[[noreturn]] void end_process(int status) {
    // The window and the web view are not torn down one by one: the process exit reclaims them,
    // and the runtime's processes end when their host is gone.
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace

void report_event(EventLoopState& loop, EventKind kind) {
    if (loop.handler == nullptr) {
        // The loop is not running yet (messages pumped while the web view is built).
        loop.close_pending = loop.close_pending || kind == EventKind::CloseRequested;
        return;
    }
    LoopMode mode;
    loop.handler(Event{kind}, mode);
    if (mode.kind == LoopMode::Kind::Exit) {
        end_process(mode.exit_status);
    }
}

EventLoop create_event_loop() {
    become_dpi_aware();
    auto state = std::make_unique<EventLoopState>();
    state->thread_id = GetCurrentThreadId();
    return EventLoop(std::move(state));
}

void run_event_loop(EventLoop loop, EventHandler handler) {
    EventLoopState& state = loop.state();
    state.handler = handler;
    report_event(state, EventKind::Other);  // the loop's start
    if (state.close_pending) {
        report_event(state, EventKind::CloseRequested);
    }
    MSG message{};
    while (true) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            end_process(0);  // WM_QUIT
        }
        if (got == -1) {
            end_process(1);  // the queue itself failed; nothing more can be dispatched
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace quelby::webview_host
