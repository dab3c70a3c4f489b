#include "quelby/webview_host/response_header_rules.h"

#include <algorithm>

namespace quelby::webview_host {

bool is_sendable_header_value(std::string_view value) noexcept {
    return std::all_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '\t' || (byte >= 0x20 && byte <= 0x7E);
    });
}

bool is_header_name_token(std::string_view name) noexcept {
    constexpr std::string_view TOKEN_PUNCTUATION = "!#$%&'*+-.^_`|~";
    return !name.empty() && std::all_of(name.begin(), name.end(), [&](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               TOKEN_PUNCTUATION.find(c) != std::string_view::npos;
    });
}

bool is_sendable_header(const ResponseHeader& header) noexcept {
    return is_header_name_token(header.name) && is_sendable_header_value(header.value);
}

}  // namespace quelby::webview_host
