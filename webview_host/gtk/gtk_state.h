// What the GTK backend keeps behind the host's handles.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "gtk_api.h"
#include "quelby/webview_host/host.h"
#include "quelby/webview_host/post_queue.h"

namespace quelby::webview_host {

struct EventLoopState {
    // The GUI libraries, opened when the loop is created; a failure is reported by create_window.
    Result<const gtk::WindowApi*> api;
    // Set by run_event_loop; until then a close request changes nothing.
    EventHandler handler;
    LoopMode mode;
    GMainLoop* main_loop = nullptr;
    // Tasks from other threads; each wake is an idle source on the default main context.
    std::unique_ptr<LoopPosts> posts;
};

struct WindowState {
    WindowState(const gtk::WindowApi& api_in, GtkWidget* widget_in, EventLoopState& loop_in);
    WindowState(const WindowState&) = delete;
    WindowState& operator=(const WindowState&) = delete;
    ~WindowState();

    const gtk::WindowApi& api;
    EventLoopState& loop;  // the loop the window reports its events to
    // Cleared by GTK (weak pointer) if the window is destroyed before its handle.
    GtkWidget* widget = nullptr;
};

struct WebViewState {
    WebViewState(const gtk::WindowApi& api_in, WebKitWebContext* context_in, GtkWidget* view_in);
    WebViewState(const WebViewState&) = delete;
    WebViewState& operator=(const WebViewState&) = delete;
    ~WebViewState();

    const gtk::WindowApi& api;
    WebKitWebContext* context = nullptr;  // owned reference
    GtkWidget* view = nullptr;            // owned by the window; weak pointer
};

namespace gtk {

// The loaded tables, for signal callbacks, which only exist once loading has succeeded.
const WindowApi& loaded_window_api();
const WebKitApi& loaded_webkit_api();

// The web view's widget, or the error every call on a web view gives once its widget is gone.
Result<WebKitWebView*> live_web_view(WebView& web_view);
// The same for a window.
Result<GtkWindow*> live_window(Window& window);

// The user's download folder, made when it does not exist yet (a configured but missing folder
// would make a download fail silently); the home folder when it cannot be made.
std::filesystem::path download_folder(const WindowApi& api);

}  // namespace gtk

}  // namespace quelby::webview_host
