// The Win32 backend's state behind the host handles. Everything here lives on the main thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "quelby/webview_host/host.h"
#include "quelby/webview_host/post_queue.h"
#include "webview2_api.h"

namespace quelby::webview_host {

struct EventLoopState {
    EventLoopState() = default;
    EventLoopState(const EventLoopState&) = delete;
    EventLoopState& operator=(const EventLoopState&) = delete;
    ~EventLoopState();

    DWORD thread_id = 0;
    // A message-only window of this thread: posted tasks wake the loop with a message to it, which
    // modal loops (a window being moved, a message box) dispatch too, unlike a thread message.
    HWND message_window = nullptr;
    std::unique_ptr<LoopPosts> posts;
    // Set when the loop runs; window procedures report events through it.
    EventHandler handler;
    // A close request that came while the web view was still being built, before the loop ran:
    // kept (with its window), and delivered as soon as the loop starts, so the user need not close
    // twice.
    bool close_pending = false;
    const WindowState* close_pending_window = nullptr;
    // What the handler last asked for; once it is Exit, later events no longer reach the handler.
    LoopMode mode;
};

struct WindowState {
    EventLoopState* loop = nullptr;
    HWND hwnd = nullptr;
    // The web view that fills the client area, once built; follows WM_SIZE. Not owned here.
    webview2::ICoreWebView2Controller* controller = nullptr;
    WindowState() = default;
    WindowState(const WindowState&) = delete;
    WindowState& operator=(const WindowState&) = delete;
    ~WindowState();
};

struct WebViewState {
    WindowState* window = nullptr;
    webview2::ICoreWebView2Environment* environment = nullptr;
    webview2::ICoreWebView2Controller* controller = nullptr;
    webview2::ICoreWebView2* web_view = nullptr;
    // The registered schemes, for mapping later navigations as the first one was mapped.
    std::vector<std::string> scheme_names;
    WebViewState() = default;
    WebViewState(const WebViewState&) = delete;
    WebViewState& operator=(const WebViewState&) = delete;
    ~WebViewState();
};

// Delivers one event to the running loop's handler and ends the process when it asks to.
void report_event(EventLoopState& loop, EventKind kind, const WindowState* window = nullptr);

// The class of the program's top-level windows, and of the loop's message-only window.
inline constexpr wchar_t WINDOW_CLASS_NAME[] = L"webview_host_window";
inline constexpr wchar_t MESSAGE_WINDOW_CLASS_NAME[] = L"webview_host_messages";
// Sent to the message-only window: run the posted tasks.
inline constexpr UINT RUN_POSTED_MESSAGE = WM_APP + 1;

}  // namespace quelby::webview_host
