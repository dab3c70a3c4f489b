#include "gtk_scheme.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "gtk_state.h"
#include "quelby/core/ascii_text.h"
#include "quelby/webview_host/response_header_rules.h"

namespace quelby::webview_host::gtk {

namespace {

constexpr int BAD_REQUEST = 400;
constexpr std::string_view CONTENT_TYPE = "content-type";

std::vector<Header> request_headers(const WebKitApi& webkit, WebKitURISchemeRequest* request) {
    std::vector<Header> headers;
    SoupMessageHeaders* soup_headers = webkit.webkit_uri_scheme_request_get_http_headers(request);
    if (soup_headers == nullptr) {
        return headers;
    }
    SoupMessageHeadersIter iter;
    webkit.soup_message_headers_iter_init(&iter, soup_headers);
    const char* name = nullptr;
    const char* value = nullptr;
    while (webkit.soup_message_headers_iter_next(&iter, &name, &value)) {
        headers.push_back(Header{.name = name, .value = value});
    }
    return headers;
}

std::vector<std::uint8_t> request_body(const WindowApi& api, const WebKitApi& webkit,
                                       WebKitURISchemeRequest* request) {
    std::vector<std::uint8_t> body;
    GInputStream* stream = webkit.webkit_uri_scheme_request_get_http_body(request);
    if (stream == nullptr) {
        return body;
    }
    std::array<std::uint8_t, 16384> chunk{};
    gsize read = 0;
    // The body is the page's own form data, already in this process: reading it does not wait.
    while (
        api.g_input_stream_read_all(stream, chunk.data(), chunk.size(), &read, nullptr, nullptr) &&
        read > 0) {
        body.insert(body.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(read));
    }
    api.g_object_unref(stream);
    return body;
}

std::string webview_identifier(const WebKitApi& webkit, WebKitURISchemeRequest* request) {
    WebKitWebView* view = webkit.webkit_uri_scheme_request_get_web_view(request);
    return view != nullptr ? std::to_string(webkit.webkit_web_view_get_page_id(view))
                           : std::string();
}

// Answers and releases the reference taken when the request arrived.
void finish_request(const WindowApi& api, const WebKitApi& webkit, WebKitURISchemeRequest* request,
                    const Response& response) {
    const bool valid_status = response.status >= 100 && response.status <= 599;
    // Served by reference: the body outlives the process's every request.
    GBytes* bytes = api.g_bytes_new_static(valid_status ? response.body.data() : nullptr,
                                           valid_status ? response.body.size() : 0);
    GInputStream* stream = api.g_memory_input_stream_new_from_bytes(bytes);
    api.g_bytes_unref(bytes);
    WebKitURISchemeResponse* answer = webkit.webkit_uri_scheme_response_new(
        stream, static_cast<gint64>(valid_status ? response.body.size() : 0));
    api.g_object_unref(stream);

    if (!valid_status) {
        // Not an HTTP status at all; the engine would refuse it.
        webkit.webkit_uri_scheme_response_set_status(answer, BAD_REQUEST, nullptr);
    } else {
        webkit.webkit_uri_scheme_response_set_status(answer, static_cast<guint>(response.status),
                                                     nullptr);
        SoupMessageHeaders* headers =
            webkit.soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
        for (const ResponseHeader& header : response.headers) {
            if (!is_sendable_header(header)) {
                continue;
            }
            // The engine copies both; it wants them NUL-terminated.
            const std::string name(header.name);
            const std::string value(header.value);
            // The content type is the resource's MIME type for the engine, and a header for the
            // page: given headers replace the engine's own, so it goes to both.
            if (equals_ignoring_ascii_case(name, CONTENT_TYPE)) {
                webkit.webkit_uri_scheme_response_set_content_type(answer, value.c_str());
            }
            webkit.soup_message_headers_append(headers, name.c_str(), value.c_str());
        }
        webkit.webkit_uri_scheme_response_set_http_headers(answer, headers);  // takes ownership
    }
    webkit.webkit_uri_scheme_request_finish_with_response(request, answer);
    api.g_object_unref(answer);
    api.g_object_unref(request);
}

struct SchemeBinding {
    SchemeHandler handler;
};

void on_scheme_request(WebKitURISchemeRequest* request, gpointer binding) noexcept {
    const WindowApi& api = loaded_window_api();
    const WebKitApi& webkit = loaded_webkit_api();
    // The request must outlive this callback when the handler answers later; the reference is
    // released when it is answered.
    (api.g_object_ref)(request);
    try {
        // Made first, so that any failure below still answers the request (500) on unwinding.
        Responder responder([&api, &webkit, request](Response response) {
            finish_request(api, webkit, request, response);
        });
        const char* method = webkit.webkit_uri_scheme_request_get_http_method(request);
        const Request incoming{
            .method = method != nullptr ? method : "GET",
            .uri = webkit.webkit_uri_scheme_request_get_uri(request),
            .headers = request_headers(webkit, request),
            .body = request_body(api, webkit, request),
        };
        static_cast<SchemeBinding*>(binding)->handler(webview_identifier(webkit, request), incoming,
                                                      std::move(responder));
    } catch (...) {
        // Nothing may unwind into WebKit's C frames; only running out of memory lands here.
    }
}

void delete_binding(gpointer binding) {
    delete static_cast<SchemeBinding*>(binding);
}

}  // namespace

void register_scheme_handler(const WebKitApi& webkit, WebKitWebContext* context,
                             const std::string& name, SchemeHandler handler) {
    webkit.webkit_web_context_register_uri_scheme(context, name.c_str(), on_scheme_request,
                                                  new SchemeBinding{std::move(handler)},
                                                  delete_binding);
}

}  // namespace quelby::webview_host::gtk
