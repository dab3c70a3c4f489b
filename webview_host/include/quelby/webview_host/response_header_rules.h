// Which response headers may be handed to a browser engine: a header that could split the
// response or carry bytes the engine would reject is left out rather than mangled. Shared by every
// backend.
#pragma once

#include <string_view>

#include "quelby/webview_host/host.h"

namespace quelby::webview_host {

// Tab and the visible ASCII range with space (0x20 to 0x7E) only.
bool is_sendable_header_value(std::string_view value) noexcept;

// A non-empty HTTP token (RFC 9110 tchar): no separators, spaces or control bytes, so that a
// "name: value" line cannot be split or forged.
bool is_header_name_token(std::string_view name) noexcept;

bool is_sendable_header(const ResponseHeader& header) noexcept;

}  // namespace quelby::webview_host
