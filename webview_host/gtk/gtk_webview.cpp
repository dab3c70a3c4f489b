#include <filesystem>
#include <set>
#include <string>

#include "download_rules.h"
#include "gtk_scheme.h"
#include "gtk_state.h"
#include "language_tag.h"
#include "page_scripts.h"
#include "quelby/webview_host/page_channel_script.h"
#include "quelby/webview_host/page_diagnostics_script.h"
#include "quelby/webview_host/scheme_rules.h"

namespace quelby::webview_host {

namespace {

// The script message handler that window.ipc.postMessage reaches; the host's messages come back
// through window.ipc.deliver, which post_to_page calls.
constexpr const char* IPC_HANDLER_NAME = "ipc";
constexpr std::string_view IPC_POST_FUNCTION =
    "(s) => window.webkit.messageHandlers.ipc.postMessage(s)";

// Software rendering: the GL compositing path costs the web process about 80 MiB and the attach
// about 0.1 s more (measured under Xvfb with Mesa), and the front end draws nothing that needs it.
constexpr WebKitHardwareAccelerationPolicy ACCELERATION_POLICY =
    WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER;

}  // namespace

std::filesystem::path gtk::download_folder(const gtk::WindowApi& api) {
    if (const char* folder = api.g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
        folder != nullptr) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (std::filesystem::is_directory(folder, error)) {
            return folder;
        }
    }
    return api.g_get_home_dir();
}

namespace {

// Every download is allowed, to the proposed name in the download folder, without asking.
gboolean on_decide_destination(WebKitDownload* download, gchar* suggested_filename,
                               gpointer /*unused*/) {
    const gtk::WindowApi& api = gtk::loaded_window_api();
    const std::filesystem::path destination = gtk::download_destination(
        gtk::download_folder(api), suggested_filename != nullptr ? suggested_filename : "",
        [](const std::filesystem::path& path) {
            std::error_code ignored;
            return std::filesystem::exists(path, ignored);
        });
    gchar* uri = api.g_filename_to_uri(destination.c_str(), nullptr, nullptr);
    if (uri == nullptr) {
        // TRUE would promise a destination later and stall the download: let WebKit decide.
        return FALSE;
    }
    gtk::loaded_webkit_api().webkit_download_set_destination(download, uri);
    (api.g_free)(uri);
    return TRUE;
}

void on_download_started(WebKitWebContext* /*context*/, WebKitDownload* download,
                         gpointer /*unused*/) {
    gtk::loaded_window_api().g_signal_connect_data(download, "decide-destination",
                                                   G_CALLBACK(on_decide_destination), nullptr,
                                                   nullptr, GConnectFlags{});
}

void add_document_start_script(
    const gtk::WebKitApi& webkit, WebKitUserContentManager* content, const char* source,
    WebKitUserContentInjectedFrames frames = WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES) {
    WebKitUserScript* script = webkit.webkit_user_script_new(
        source, frames, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit.webkit_user_content_manager_add_script(content, script);
    webkit.webkit_user_script_unref(script);
}

// The program's side of one script message handler: diagnostics or window.ipc.
struct MessageBinding {
    std::function<void(std::string_view)> sink;
};

void on_script_message(WebKitUserContentManager* /*content*/, WebKitJavascriptResult* result,
                       gpointer binding) noexcept {
    const gtk::WebKitApi& webkit = gtk::loaded_webkit_api();
    gchar* text = webkit.jsc_value_to_string(webkit.webkit_javascript_result_get_js_value(result));
    if (text == nullptr) {
        return;
    }
    try {
        static_cast<MessageBinding*>(binding)->sink(text);
    } catch (...) {
        // Nothing may unwind into WebKit's C frames; a lost report is all that happens.
    }
    (gtk::loaded_window_api().g_free)(text);
}

void delete_message_binding(gpointer binding, GClosure* /*closure*/) {
    delete static_cast<MessageBinding*>(binding);
}

void connect_script_messages(const gtk::WindowApi& api, WebKitUserContentManager* content,
                             const char* handler_name, std::function<void(std::string_view)> sink) {
    const std::string signal = std::string("script-message-received::") + handler_name;
    api.g_signal_connect_data(content, signal.c_str(), G_CALLBACK(on_script_message),
                              new MessageBinding{std::move(sink)}, delete_message_binding,
                              GConnectFlags{});
}

WebKitUserContentManager* make_content_manager(const gtk::WindowApi& api,
                                               const gtk::WebKitApi& webkit,
                                               PageDiagnosticSink diagnostics,
                                               PageMessageSink messages,
                                               const std::vector<std::string>& page_scripts,
                                               const std::vector<std::string>& top_scripts) {
    WebKitUserContentManager* content = webkit.webkit_user_content_manager_new();
    if (diagnostics) {
        // First, so that it sees the failures of everything after it.
        add_document_start_script(webkit, content,
                                  page_diagnostics_script(gtk::DIAGNOSTICS_CHANNEL).c_str());
        webkit.webkit_user_content_manager_register_script_message_handler(
            content, gtk::DIAGNOSTICS_HANDLER_NAME);
        connect_script_messages(api, content, gtk::DIAGNOSTICS_HANDLER_NAME,
                                std::move(diagnostics));
    }
    add_document_start_script(webkit, content, std::string(HOST_CONTEXT_POLYFILL).c_str());
    add_document_start_script(webkit, content, std::string(SHADOW_SELECTION_POLYFILL).c_str());
    add_document_start_script(webkit, content, page_channel_script(IPC_POST_FUNCTION, "").c_str());
    for (const std::string& source : page_scripts) {
        add_document_start_script(webkit, content, source.c_str());
    }
    for (const std::string& source : top_scripts) {
        add_document_start_script(webkit, content, source.c_str(),
                                  WEBKIT_USER_CONTENT_INJECT_TOP_FRAME);
    }
    // Registering the name is what makes window.webkit.messageHandlers.ipc exist, whether or not
    // the program reads the messages.
    webkit.webkit_user_content_manager_register_script_message_handler(content, IPC_HANDLER_NAME);
    if (messages) {
        connect_script_messages(api, content, IPC_HANDLER_NAME, std::move(messages));
    }
    return content;
}

}  // namespace

Result<WebView> WebViewBuilder::build(Window& window) {
    auto loaded = gtk::load_webkit_api();
    if (!loaded) {
        return std::unexpected(std::move(loaded).error());
    }
    if (auto checked = check_private_schemes(schemes_, "WebKit"); !checked) {
        return std::unexpected(std::move(checked).error());
    }
    const gtk::WebKitApi& webkit = **loaded;
    const gtk::WindowApi& api = window.state().api;
    if (auto live = gtk::live_window(window); !live) {
        return std::unexpected(std::move(live).error());
    }

    WebKitWebContext* context = webkit.webkit_web_context_new();
    const std::string language = gtk::language_tag_for_locale(gtk::user_interface_locale());
    const gchar* const languages[] = {language.c_str(), nullptr};
    webkit.webkit_web_context_set_preferred_languages(context, languages);
    for (auto& [name, handler] : schemes_) {
        gtk::register_scheme_handler(webkit, context, name, std::move(handler));
    }
    schemes_.clear();
    api.g_signal_connect_data(context, "download-started", G_CALLBACK(on_download_started), nullptr,
                              nullptr, GConnectFlags{});

    WebKitSettings* settings = webkit.webkit_settings_new();
    webkit.webkit_settings_set_hardware_acceleration_policy(settings, ACCELERATION_POLICY);
    webkit.webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit.webkit_settings_set_media_playback_requires_user_gesture(settings, FALSE);
    WebKitUserContentManager* content =
        make_content_manager(api, webkit, std::move(page_diagnostics_), std::move(page_messages_),
                             page_scripts_, top_document_scripts_);

    auto* view = static_cast<GtkWidget*>(
        api.g_object_new(webkit.webkit_web_view_get_type(), "web-context", context, "settings",
                         settings, "user-content-manager", content, nullptr));
    api.g_object_unref(settings);
    api.g_object_unref(content);
    // As the window's only child the view fills its client area and follows every resize.
    api.gtk_container_add(reinterpret_cast<GtkContainer*>(window.state().widget), view);
    auto state = std::make_unique<WebViewState>(api, context, view);
    api.gtk_widget_show(view);
    api.gtk_widget_grab_focus(view);
    webkit.webkit_web_view_set_zoom_level(reinterpret_cast<WebKitWebView*>(view), zoom_factor_);
    // A registered scheme's own URL is loaded as it is: WebKit serves it through the handler.
    webkit.webkit_web_view_load_uri(reinterpret_cast<WebKitWebView*>(view), url_.c_str());
    return WebView(std::move(state));
}

Status navigate(WebView& web_view, const std::string& url) {
    auto view = gtk::live_web_view(web_view);
    if (!view) {
        return std::unexpected(std::move(view).error());
    }
    gtk::loaded_webkit_api().webkit_web_view_load_uri(*view, url.c_str());
    return {};
}

}  // namespace quelby::webview_host
