// Scripts the GTK backend runs at the start of every document, before the page's own.
#pragma once

namespace quelby::webview_host::gtk {

// WebKit has no :host-context(): CSSStyleSheet.insertRule throws on such a rule, which aborts
// whatever was setting up styles (a code editor's extensions, for one), and replaceSync/replace
// drop it silently. Where the engine rejects the selector, the script rewrites each
// :host-context(X) into :host(:is(X, X *)), which WebKit accepts: the host or one of its ancestors
// in the host's own tree matches X. (Ancestors beyond an enclosing shadow root are not seen, unlike
// :host-context: styling keyed on those is lost, as it was before.) Engines that accept the
// selector are left untouched.
extern const char* const HOST_CONTEXT_POLYFILL;

// The name of the script message handler the diagnostics script posts to.
inline constexpr const char* DIAGNOSTICS_HANDLER_NAME = "hostDiagnostics";

// Reports uncaught errors, unhandled promise rejections and console.error calls, with their stack
// where there is one, to DIAGNOSTICS_HANDLER_NAME; the page's own behaviour is unchanged.
extern const char* const DIAGNOSTICS_SCRIPT;

}  // namespace quelby::webview_host::gtk
