#include "devtools_scheme.h"

#include <utility>

#include "ascii_text.h"
#include "asset_table.h"

namespace quelby {

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

DevtoolsResponse devtools_response_for_uri(std::string_view uri) {
    const AssetRoute route = route_asset_uri(uri);
    if (route.entry != nullptr) {
        return {.status = 200, .content_type = route.content_type, .body = route.entry->bytes};
    }
    return {.status = 404, .content_type = route.content_type, .body = NOT_FOUND_BODY};
}

void devtools_scheme_handler(std::string_view /*webview_id*/, const webview_host::Request& request,
                             webview_host::Responder responder) {
    const DevtoolsResponse answer = devtools_response_for_uri(request.uri);
    // Both views are constants: the only allocation of a request stays the lookup key.
    const webview_host::ResponseHeader headers[] = {{CONTENT_TYPE_HEADER, answer.content_type}};
    responder.respond({.status = answer.status, .headers = headers, .body = answer.body});
}

}  // namespace quelby
