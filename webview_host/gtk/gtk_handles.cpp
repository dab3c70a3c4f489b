#include "gtk_state.h"
#include "handle_members.h"

namespace quelby::webview_host {

QUELBY_DEFINE_HOST_HANDLES()

WindowState::WindowState(const gtk::WindowApi& api_in, GtkWidget* widget_in)
    : api(api_in), widget(widget_in) {
    api.g_object_add_weak_pointer(reinterpret_cast<GObject*>(widget),
                                  reinterpret_cast<gpointer*>(&widget));
}

WindowState::~WindowState() {
    if (widget != nullptr) {
        GtkWidget* doomed = widget;
        api.g_object_remove_weak_pointer(reinterpret_cast<GObject*>(widget),
                                         reinterpret_cast<gpointer*>(&widget));
        api.gtk_widget_destroy(doomed);
    }
}

WebViewState::WebViewState(const gtk::WindowApi& api_in, WebKitWebContext* context_in,
                           GtkWidget* view_in)
    : api(api_in), context(context_in), view(view_in) {
    api.g_object_add_weak_pointer(reinterpret_cast<GObject*>(view),
                                  reinterpret_cast<gpointer*>(&view));
}

WebViewState::~WebViewState() {
    if (view != nullptr) {
        GtkWidget* doomed = view;
        api.g_object_remove_weak_pointer(reinterpret_cast<GObject*>(view),
                                         reinterpret_cast<gpointer*>(&view));
        api.gtk_widget_destroy(doomed);
    }
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
