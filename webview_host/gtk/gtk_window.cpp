#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "gtk_event_loop.h"
#include "gtk_state.h"

namespace quelby::webview_host {

namespace {

constexpr int DEFAULT_WIDTH = 800;
constexpr int DEFAULT_HEIGHT = 600;
// The running executable's file name, which names WebKit's data folders (~/.cache/NAME,
// ~/.local/share/NAME) and the window's class, as for any GTK program started from a command line;
// nullopt when the system does not say.
std::optional<std::string> executable_name() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || executable.filename().empty()) {
        return std::nullopt;
    }
    return executable.filename().string();
}

std::string display_failure() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0')) {
        return "cannot open display: (none)";
    }
    if (display != nullptr && *display != '\0') {
        return std::string("cannot open display: ") + display;
    }
    return "GTK could not be initialised (no display?)";
}

// A window manager's close (WM_DELETE_WINDOW) arrives here. Returning TRUE keeps the window: the
// program's handler decides, and the process exit removes the window.
gboolean on_delete_event(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer window_state) {
    const auto* window = static_cast<const WindowState*>(window_state);
    gtk::dispatch_event(window->loop, EventKind::CloseRequested, window);
    return TRUE;
}

}  // namespace

Result<Window> create_window(EventLoop& loop, const WindowAttributes& attributes) {
    EventLoopState& loop_state = loop.state();
    if (!loop_state.api) {
        return std::unexpected(loop_state.api.error());
    }
    const gtk::WindowApi& api = **loop_state.api;
    if (api.g_get_prgname() == nullptr) {
        if (const auto name = executable_name()) {
            api.g_set_prgname(name->c_str());
        }
    }
    // gtk_init would end the process when there is no display; the check variant lets us report.
    if (!api.gtk_init_check(nullptr, nullptr)) {
        return std::unexpected(ErrorChain::from_message(display_failure()));
    }

    GtkWidget* widget = api.gtk_window_new(GTK_WINDOW_TOPLEVEL);
    auto state = std::make_unique<WindowState>(api, widget, loop_state);
    auto* window = reinterpret_cast<GtkWindow*>(widget);
    api.gtk_window_set_title(window, attributes.title.c_str());
    api.gtk_window_set_default_size(window, DEFAULT_WIDTH, DEFAULT_HEIGHT);
    api.g_signal_connect_data(widget, "delete-event", G_CALLBACK(on_delete_event), state.get(),
                              nullptr, GConnectFlags{});
    api.gtk_widget_show(widget);
    return Window(std::move(state));
}

}  // namespace quelby::webview_host
