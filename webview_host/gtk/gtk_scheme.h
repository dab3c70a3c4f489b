// The bridge between WebKit's requests for a private scheme and the program's SchemeHandler.
#pragma once

#include <string>

#include "gtk_api.h"
#include "quelby/webview_host/host.h"

namespace quelby::webview_host::gtk {

// Registers `handler` for `name` on `context`. The context owns the handler from then on.
void register_scheme_handler(const WebKitApi& webkit, WebKitWebContext* context,
                             const std::string& name, SchemeHandler handler);

}  // namespace quelby::webview_host::gtk
