// The handler of the private `devtools` scheme: the program's whole web server. A request path in,
// an embedded front-end file (or 404) out, with a content type chosen by extension.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "quelby/assets/asset_route.h"
#include "quelby/assets/devtools_scheme_name.h"
#include "quelby/webview_host/host.h"

namespace quelby {

// One answer. Both views refer to data that lives as long as the process: nothing is copied.
struct DevtoolsResponse {
    int status = 200;
    std::string_view content_type;
    std::span<const std::uint8_t> body;
};

// The answer for a request URI such as "devtools://localhost/js_app.html?ws=..." (or a bare path
// beginning with '/'). Only the path counts: the query and any fragment are ignored.
DevtoolsResponse devtools_response_for_uri(std::string_view uri);

// The scheme handler as the web-view host calls it; answers through `responder` before returning.
void devtools_scheme_handler(std::string_view webview_id, const webview_host::Request& request,
                             webview_host::Responder responder);

}  // namespace quelby
