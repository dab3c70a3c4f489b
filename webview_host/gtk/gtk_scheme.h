// The bridge between WebKit's requests for a private scheme and the program's SchemeHandler.
#pragma once

#include <string>

#include "gtk_api.h"
#include "host.h"

namespace quelby::webview_host::gtk {

// A scheme name WebKit will let the program serve: an RFC 3986 scheme in lower case that is not one
// of the schemes the engine handles itself.
bool is_registrable_scheme(std::string_view name) noexcept;

// Registers `handler` for `name` on `context`. The context owns the handler from then on.
void register_scheme_handler(const WebKitApi& webkit, WebKitWebContext* context,
                             const std::string& name, SchemeHandler handler);

}  // namespace quelby::webview_host::gtk
