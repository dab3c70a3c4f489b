#include "gtk_state.h"
#include "quelby/webview_host/host_handle_definitions.h"

namespace quelby::webview_host {

QUELBY_DEFINE_HOST_HANDLES()

namespace {

// A widget pointer that GTK clears when the widget goes away by other means (a weak pointer), so
// that the state's destructor never destroys a widget twice.
void watch_widget(const gtk::WindowApi& api, GtkWidget*& widget) {
    api.g_object_add_weak_pointer(reinterpret_cast<GObject*>(widget),
                                  reinterpret_cast<gpointer*>(&widget));
}

void destroy_watched_widget(const gtk::WindowApi& api, GtkWidget*& widget) {
    if (widget != nullptr) {
        GtkWidget* doomed = widget;
        api.g_object_remove_weak_pointer(reinterpret_cast<GObject*>(widget),
                                         reinterpret_cast<gpointer*>(&widget));
        api.gtk_widget_destroy(doomed);
    }
}

}  // namespace

WindowState::WindowState(const gtk::WindowApi& api_in, GtkWidget* widget_in,
                         EventLoopState& loop_in)
    : api(api_in), loop(loop_in), widget(widget_in) {
    watch_widget(api, widget);
}

WindowState::~WindowState() {
    destroy_watched_widget(api, widget);
}

WebViewState::WebViewState(const gtk::WindowApi& api_in, WebKitWebContext* context_in,
                           GtkWidget* view_in)
    : api(api_in), context(context_in), view(view_in) {
    watch_widget(api, view);
}

WebViewState::~WebViewState() {
    destroy_watched_widget(api, view);
    api.g_object_unref(context);
}

namespace gtk {

const WindowApi& loaded_window_api() {
    return **load_window_api();
}
const WebKitApi& loaded_webkit_api() {
    return **load_webkit_api();
}

}  // namespace gtk

}  // namespace quelby::webview_host
