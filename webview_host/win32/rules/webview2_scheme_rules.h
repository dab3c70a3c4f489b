// The portable rules of the WebView2 backend's request/response path: how private-scheme URIs are
// mapped to and from the http form the runtime can intercept, and how a Response becomes the
// status, reason phrase and header text that CreateWebResourceResponse takes. No Windows types, so
// the rules are unit-tested natively as well as under Wine.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "quelby/webview_host/host.h"

namespace quelby::webview_host::webview2 {

// WebView2 only intercepts http(s) requests, so pages reach a scheme "name" at http://name.*;
// this filter ("http://devtools.*") makes the runtime hand those requests to us.
std::string request_filter(std::string_view scheme);

// "http://devtools.localhost/a?b" -> "devtools://localhost/a?b": every occurrence of
// "http://{scheme}." becomes "{scheme}://", as the handler expects the scheme's own form.
std::string to_scheme_uri(std::string_view uri, std::string_view scheme);

// The start URL the runtime navigates to: "{scheme}://rest" -> "http://{scheme}.rest" for a
// registered scheme; any other URL unchanged.
std::string to_navigation_url(std::string_view url, std::span<const std::string> schemes);

// "name: value\n" for every sendable header, in order; the others are left out.
std::string header_lines(std::span<const ResponseHeader> headers);

// The standard reason phrase of `status`, or "OK" when the code has none.
std::string_view reason_phrase(int status);

// The answer given when the runtime refuses a response.
inline constexpr int REFUSED_RESPONSE_STATUS = 400;

}  // namespace quelby::webview_host::webview2
