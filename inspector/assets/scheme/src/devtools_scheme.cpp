#include "quelby/assets/devtools_scheme.h"

#include <utility>

#include "quelby/assets/asset_table.h"

namespace quelby {

// The one header of every answer.
constexpr std::string_view CONTENT_TYPE_HEADER = "content-type";

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
