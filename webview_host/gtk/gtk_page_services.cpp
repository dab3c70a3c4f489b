// What the program asks of the web view and the desktop while the page runs: messages to the page,
// zoom, the default application for a link, and the Save dialog.
#include <string>

#include "gtk_state.h"

namespace quelby::webview_host {

namespace {

// The page's side of post_to_page (see the window.ipc script).
constexpr const char* DELIVER_FUNCTION_BODY = "window.ipc && window.ipc.deliver(text);";

std::string gerror_text(const gtk::WindowApi& api, GError* error, std::string_view fallback) {
    std::string text =
        error != nullptr && error->message != nullptr ? error->message : std::string(fallback);
    if (error != nullptr) {
        api.g_error_free(error);
    }
    return text;
}

}  // namespace

Result<WebKitWebView*> gtk::live_web_view(WebView& web_view) {
    if (web_view.state().view == nullptr) {
        return std::unexpected(ErrorChain::from_message("the web view has already been destroyed"));
    }
    return reinterpret_cast<WebKitWebView*>(web_view.state().view);
}

Result<GtkWindow*> gtk::live_window(Window& window) {
    if (window.state().widget == nullptr) {
        return std::unexpected(ErrorChain::from_message("the window has already been destroyed"));
    }
    return reinterpret_cast<GtkWindow*>(window.state().widget);
}

Status post_to_page(WebView& web_view, std::string_view text) {
    auto view = gtk::live_web_view(web_view);
    if (!view) {
        return std::unexpected(std::move(view).error());
    }
    const gtk::WindowApi& api = web_view.state().api;
    const gtk::WebKitApi& webkit = gtk::loaded_webkit_api();
    // A GVariant string must be UTF-8; the argument passes the text without any quoting.
    const auto length = static_cast<gssize>(text.size());
    gchar* valid = api.g_utf8_validate(text.data(), length, nullptr)
                       ? nullptr
                       : api.g_utf8_make_valid(text.data(), length);
    GVariantBuilder arguments;
    // The type string is the type: GVariantType is a type string in disguise.
    api.g_variant_builder_init(&arguments, reinterpret_cast<const GVariantType*>("a{sv}"));
    api.g_variant_builder_add(
        &arguments, "{sv}", "text",
        api.g_variant_new_string(valid != nullptr ? valid : std::string(text).c_str()));
    (api.g_free)(valid);
    // Calls run in the web process in the order they are made.
    webkit.webkit_web_view_call_async_javascript_function(
        *view, DELIVER_FUNCTION_BODY, -1, api.g_variant_builder_end(&arguments), nullptr, nullptr,
        nullptr, nullptr, nullptr);
    return {};
}

Status set_zoom_factor(WebView& web_view, double factor) {
    auto view = gtk::live_web_view(web_view);
    if (!view) {
        return std::unexpected(std::move(view).error());
    }
    gtk::loaded_webkit_api().webkit_web_view_set_zoom_level(*view, factor);
    return {};
}

Status open_with_default_application(Window& window, const std::string& uri) {
    const gtk::WindowApi& api = window.state().api;
    GError* error = nullptr;
    if (!api.g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error)) {
        return std::unexpected(
            ErrorChain::from_message(gerror_text(api, error, "no application for this address")));
    }
    return {};
}

Result<std::optional<std::filesystem::path>> ask_save_path(Window& window,
                                                           const std::string& suggested_name) {
    const gtk::WindowApi& api = window.state().api;
    auto parent = gtk::live_window(window);
    if (!parent) {
        return std::unexpected(std::move(parent).error());
    }
    GtkWidget* dialog = api.gtk_file_chooser_dialog_new(
        "Save File", *parent, GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel", GTK_RESPONSE_CANCEL, "_Save",
        GTK_RESPONSE_ACCEPT, nullptr);
    auto* chooser = reinterpret_cast<GtkFileChooser*>(dialog);
    api.gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    api.gtk_file_chooser_set_current_folder(chooser, gtk::download_folder(api).c_str());
    api.gtk_file_chooser_set_current_name(chooser, suggested_name.c_str());
    std::optional<std::filesystem::path> chosen;
    if (api.gtk_dialog_run(reinterpret_cast<GtkDialog*>(dialog)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* name = api.gtk_file_chooser_get_filename(chooser); name != nullptr) {
            chosen = std::filesystem::path(name);
            (api.g_free)(name);
        }
    }
    api.gtk_widget_destroy(dialog);
    return chosen;
}

}  // namespace quelby::webview_host
