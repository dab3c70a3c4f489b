// The GTK, GLib and WebKitGTK functions the backend calls, taken at run time from the shared
// libraries. The program does not link these libraries: starting them costs tens of milliseconds
// and megabytes, which the paths that open no window must not pay, and a machine without them must
// still run those paths. Each entry's type comes from the real header, so a call through the table
// is checked like a direct call.
#pragma once

#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include "quelby/core/error_chain.h"

namespace quelby::webview_host::gtk {

// X(library-field, function) for everything the window and the event loop need.
#define QUELBY_GTK_WINDOW_FUNCTIONS(X)                     \
    X(glib, g_main_loop_new)                               \
    X(glib, g_main_loop_run)                               \
    X(glib, g_main_loop_quit)                              \
    X(glib, g_main_loop_unref)                             \
    X(glib, g_main_context_iteration)                      \
    X(glib, g_timeout_add)                                 \
    X(glib, g_idle_add)                                    \
    X(glib, g_idle_add_full)                               \
    X(glib, g_source_remove)                               \
    X(glib, g_set_prgname)                                 \
    X(glib, g_get_prgname)                                 \
    X(glib, g_get_user_special_dir)                        \
    X(glib, g_get_home_dir)                                \
    X(glib, g_filename_to_uri)                             \
    X(glib, g_bytes_new_static)                            \
    X(glib, g_bytes_unref)                                 \
    X(glib, g_free)                                        \
    X(glib, g_error_free)                                  \
    X(glib, g_utf8_validate)                               \
    X(glib, g_utf8_make_valid)                             \
    X(glib, g_variant_builder_init)                        \
    X(glib, g_variant_builder_add)                         \
    X(glib, g_variant_builder_end)                         \
    X(glib, g_variant_new_string)                          \
    X(gio, g_app_info_launch_default_for_uri)              \
    X(gobject, g_signal_connect_data)                      \
    X(gobject, g_object_new)                               \
    X(gobject, g_object_ref)                               \
    X(gobject, g_object_unref)                             \
    X(gobject, g_object_add_weak_pointer)                  \
    X(gobject, g_object_remove_weak_pointer)               \
    X(gio, g_memory_input_stream_new_from_bytes)           \
    X(gio, g_input_stream_read_all)                        \
    X(gtk, gtk_init_check)                                 \
    X(gtk, gtk_window_new)                                 \
    X(gtk, gtk_window_set_title)                           \
    X(gtk, gtk_window_set_default_size)                    \
    X(gtk, gtk_container_add)                              \
    X(gtk, gtk_widget_show)                                \
    X(gtk, gtk_widget_grab_focus)                          \
    X(gtk, gtk_widget_destroy)                             \
    X(gtk, gtk_file_chooser_dialog_new)                    \
    X(gtk, gtk_file_chooser_set_do_overwrite_confirmation) \
    X(gtk, gtk_file_chooser_set_current_name)              \
    X(gtk, gtk_file_chooser_set_current_folder)            \
    X(gtk, gtk_file_chooser_get_filename)                  \
    X(gtk, gtk_dialog_run)

// X(library-field, function) for the web view.
#define QUELBY_WEBKIT_FUNCTIONS(X)                                         \
    X(webkit, webkit_web_view_get_type)                                    \
    X(webkit, webkit_web_view_load_uri)                                    \
    X(webkit, webkit_web_view_get_page_id)                                 \
    X(webkit, webkit_web_view_call_async_javascript_function)              \
    X(webkit, webkit_web_view_set_zoom_level)                              \
    X(webkit, webkit_web_context_new)                                      \
    X(webkit, webkit_web_context_register_uri_scheme)                      \
    X(webkit, webkit_web_context_set_preferred_languages)                  \
    X(webkit, webkit_settings_new)                                         \
    X(webkit, webkit_settings_set_hardware_acceleration_policy)            \
    X(webkit, webkit_settings_set_media_playback_requires_user_gesture)    \
    X(webkit, webkit_settings_set_enable_developer_extras)                 \
    X(webkit, webkit_user_content_manager_new)                             \
    X(webkit, webkit_user_content_manager_add_script)                      \
    X(webkit, webkit_user_content_manager_register_script_message_handler) \
    X(webkit, webkit_user_script_new)                                      \
    X(webkit, webkit_user_script_unref)                                    \
    X(webkit, webkit_uri_scheme_request_get_uri)                           \
    X(webkit, webkit_uri_scheme_request_get_http_method)                   \
    X(webkit, webkit_uri_scheme_request_get_http_headers)                  \
    X(webkit, webkit_uri_scheme_request_get_http_body)                     \
    X(webkit, webkit_uri_scheme_request_get_web_view)                      \
    X(webkit, webkit_uri_scheme_request_finish_with_response)              \
    X(webkit, webkit_uri_scheme_response_new)                              \
    X(webkit, webkit_uri_scheme_response_set_status)                       \
    X(webkit, webkit_uri_scheme_response_set_content_type)                 \
    X(webkit, webkit_uri_scheme_response_set_http_headers)                 \
    X(webkit, webkit_download_set_destination)                             \
    X(webkit, webkit_javascript_result_get_js_value)                       \
    X(webkit, jsc_value_to_string)                                         \
    X(soup, soup_message_headers_new)                                      \
    X(soup, soup_message_headers_append)                                   \
    X(soup, soup_message_headers_iter_init)                                \
    X(soup, soup_message_headers_iter_next)                                \
    X(soup, soup_message_headers_unref)

#define QUELBY_GTK_DECLARE_ENTRY(library, function) decltype(&::function) function = nullptr;

// Only filled in whole: a table handed out by the loaders has every entry set.
struct WindowApi {
    QUELBY_GTK_WINDOW_FUNCTIONS(QUELBY_GTK_DECLARE_ENTRY)
};

struct WebKitApi {
    QUELBY_WEBKIT_FUNCTIONS(QUELBY_GTK_DECLARE_ENTRY)
};

#undef QUELBY_GTK_DECLARE_ENTRY

// The shared libraries, by their run-time names.
inline constexpr const char* GLIB_LIBRARY = "libglib-2.0.so.0";
inline constexpr const char* GOBJECT_LIBRARY = "libgobject-2.0.so.0";
inline constexpr const char* GIO_LIBRARY = "libgio-2.0.so.0";
inline constexpr const char* GTK_LIBRARY = "libgtk-3.so.0";
inline constexpr const char* WEBKIT_LIBRARY = "libwebkit2gtk-4.1.so.0";
inline constexpr const char* SOUP_LIBRARY = "libsoup-3.0.so.0";

// A library opened for good (never closed: GTK and WebKit register types and start threads that
// must outlive any unload), or the loader's reason.
Result<void*> open_library(const char* name);
// One exported function of an opened library.
Result<void*> find_symbol(void* library, const char* library_name, const char* symbol);

// Loaded once per process; later calls give the same table or the same error.
Result<const WindowApi*> load_window_api();
Result<const WebKitApi*> load_webkit_api();

}  // namespace quelby::webview_host::gtk
