#include "quelby/assets/asset_route.h"

#include <algorithm>

#include "quelby/assets/asset_table.h"
#include "quelby/assets/frontend_url.h"

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

bool is_scheme_char(char c, bool first) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (first) {
        return letter;
    }
    return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

}  // namespace

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

// A fragment never belongs to the path, although browsers do not normally send one.
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

AssetRoute route_asset_uri(std::string_view uri) {
    std::string_view path = path_of_uri(uri);
    path.remove_prefix(std::min(path.find_first_not_of('/'), path.size()));
    const bool default_document = path.empty();
    if (default_document) {
        path = START_DOCUMENT;
    }
    if (const AssetEntry* entry = AssetTable::lookup(path)) {
        return {.entry = entry,
                .content_type = content_type_for_path(path),
                .default_document = default_document};
    }
    return {};
}

}  // namespace quelby
