#include "devtools_scheme.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "ascii_text.h"
#include "asset_table.h"

namespace quelby {
namespace {

struct ExtensionType {
    std::string_view extension;
    std::string_view content_type;
};

constexpr std::array<ExtensionType, 11> CONTENT_TYPES = {{
    {"js", "text/javascript; charset=utf-8"},
    {"mjs", "text/javascript; charset=utf-8"},
    {"css", "text/css; charset=utf-8"},
    {"html", "text/html; charset=utf-8"},
    {"json", "application/json; charset=utf-8"},
    {"md", "text/markdown; charset=utf-8"},
    {"svg", "image/svg+xml"},
    {"png", "image/png"},
    {"avif", "image/avif"},
    {"wasm", "application/wasm"},
    {"woff2", "font/woff2"},
}};
constexpr std::string_view OTHER_CONTENT_TYPE = "application/octet-stream";

constexpr std::string_view NOT_FOUND_CONTENT_TYPE = "text/plain; charset=utf-8";
constexpr std::array<std::uint8_t, 9> NOT_FOUND_BODY = {'N', 'o', 't', ' ', 'F',
                                                        'o', 'u', 'n', 'd'};

bool is_scheme_char(char c, bool first) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (first) {
        return letter;
    }
    return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// The path of "scheme://authority/path?query#fragment", or of a bare "/path?query". A fragment
// never belongs to the path, although browsers do not normally send one.
std::string_view path_of_uri(std::string_view uri) {
    std::size_t scheme_end = 0;
    while (scheme_end < uri.size() && is_scheme_char(uri[scheme_end], scheme_end == 0)) {
        ++scheme_end;
    }
    if (scheme_end > 0 && scheme_end < uri.size() && uri[scheme_end] == ':') {
        uri.remove_prefix(scheme_end + 1);
        if (uri.starts_with("//")) {
            const std::size_t authority_end = uri.find_first_of("/?#", 2);
            uri.remove_prefix(authority_end == std::string_view::npos ? uri.size() : authority_end);
        }
    }
    return uri.substr(0, uri.find_first_of("?#"));
}

}  // namespace

std::string devtools_scheme_url(std::string_view url) {
    // "http://" + scheme name + "."
    constexpr std::string_view HTTP_FORM_PREFIX = "http://devtools.";
    if (!starts_with_ignoring_ascii_case(url, HTTP_FORM_PREFIX)) {
        return std::string(url);
    }
    std::string scheme_url(DEVTOOLS_SCHEME_NAME);
    scheme_url += "://";
    scheme_url.append(url.substr(HTTP_FORM_PREFIX.size()));
    return scheme_url;
}

std::string_view content_type_for_path(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    const std::string_view extension = dot == std::string_view::npos ? path : path.substr(dot + 1);
    for (const ExtensionType& row : CONTENT_TYPES) {
        if (row.extension == extension) {
            return row.content_type;
        }
    }
    return OTHER_CONTENT_TYPE;
}

DevtoolsResponse devtools_response_for_uri(std::string_view uri) {
    std::string_view path = path_of_uri(uri);
    path.remove_prefix(std::min(path.find_first_not_of('/'), path.size()));
    if (path.empty()) {
        path = DEFAULT_DOCUMENT;
    }
    if (const AssetEntry* entry = AssetTable::lookup(path)) {
        return {.status = 200, .content_type = content_type_for_path(path), .body = entry->bytes};
    }
    return {.status = 404, .content_type = NOT_FOUND_CONTENT_TYPE, .body = NOT_FOUND_BODY};
}

void devtools_scheme_handler(std::string_view /*webview_id*/, const webview_host::Request& request,
                             webview_host::Responder responder) {
    const DevtoolsResponse answer = devtools_response_for_uri(request.uri);
    // Both views are constants: the only allocation of a request stays the lookup key.
    const webview_host::ResponseHeader headers[] = {{CONTENT_TYPE_HEADER, answer.content_type}};
    responder.respond({.status = answer.status, .headers = headers, .body = answer.body});
}

}  // namespace quelby
