// Scripts the GTK backend runs at the start of every document, before the page's own: the engine
// polyfills, embedded by the build from their .js files.
#pragma once

#include <string_view>

namespace quelby {

// WebKit has no :host-context(): CSSStyleSheet.insertRule throws on such a rule, which aborts
// whatever was setting up styles (a code editor's extensions, for one), and replaceSync/replace
// drop it silently. Where the engine rejects the selector, the script rewrites each
// :host-context(X) into :host(:is(X, X *)), which WebKit accepts: the host or one of its ancestors
// in the host's own tree matches X. (Ancestors beyond an enclosing shadow root are not seen, unlike
// :host-context: styling keyed on those is lost, as it was before.) Engines that accept the
// selector are left untouched.
extern const std::string_view HOST_CONTEXT_POLYFILL;  // host_context_polyfill.js

// WebKit has no ShadowRoot.getSelection(), and its document selection reports a selection inside a
// shadow tree at the host instead. The script adds getSelection() to shadow roots: the document's
// selection, but with anchor, focus, getRangeAt(0) and containsNode() in the root's own nodes
// (from Selection.getComposedRanges). It also makes Selection.addRange() take a range inside a
// shadow tree, which WebKit ignores, by setting it as base and extent.
extern const std::string_view SHADOW_SELECTION_POLYFILL;  // shadow_selection_polyfill.js

}  // namespace quelby

namespace quelby::webview_host::gtk {

// The script message handler the page's diagnostics are posted to, and how a page reaches it.
inline constexpr const char* DIAGNOSTICS_HANDLER_NAME = "hostDiagnostics";
inline constexpr const char* DIAGNOSTICS_CHANNEL =
    "window.webkit && window.webkit.messageHandlers && "
    "window.webkit.messageHandlers.hostDiagnostics "
    "&& ((text) => window.webkit.messageHandlers.hostDiagnostics.postMessage(text))";

}  // namespace quelby::webview_host::gtk
