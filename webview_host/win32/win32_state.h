// The Win32 backend's state behind the host handles. Everything here lives on the main thread.
#pragma once

#include <windows.h>

#include "host.h"
#include "webview2_api.h"

namespace quelby::webview_host {

struct EventLoopState {
    DWORD thread_id = 0;
    // Set when the loop runs; window procedures report events through it.
    EventHandler handler = nullptr;
    // A close request that came while the web view was still being built, before the loop ran:
    // kept, and delivered as soon as the loop starts, so the user need not close twice.
    bool close_pending = false;
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
    WebViewState() = default;
    WebViewState(const WebViewState&) = delete;
    WebViewState& operator=(const WebViewState&) = delete;
    ~WebViewState();
};

// Delivers one event to the running loop's handler and ends the process when it asks to.
void report_event(EventLoopState& loop, EventKind kind);

// The class of the program's top-level windows.
inline constexpr wchar_t WINDOW_CLASS_NAME[] = L"webview_host_window";

}  // namespace quelby::webview_host
