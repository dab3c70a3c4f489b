#include "webview2_scheme_rules.h"

#include "quelby/core/http_reason_phrase.h"
#include "quelby/core/text_replace.h"
#include "quelby/webview_host/response_header_rules.h"

namespace quelby::webview_host::webview2 {

std::string request_filter(std::string_view scheme) {
    return "http://" + std::string(scheme) + ".*";
}

std::string to_scheme_uri(std::string_view uri, std::string_view scheme) {
    return replace_all(uri, "http://" + std::string(scheme) + ".", std::string(scheme) + "://");
}

std::string to_navigation_url(std::string_view url, std::span<const std::string> schemes) {
    for (const std::string& scheme : schemes) {
        const std::string prefix = scheme + "://";
        if (url.starts_with(prefix)) {
            return "http://" + scheme + "." + std::string(url.substr(prefix.size()));
        }
    }
    return std::string(url);
}

std::string header_lines(std::span<const ResponseHeader> headers) {
    std::string out;
    for (const ResponseHeader& header : headers) {
        if (!is_sendable_header(header)) {
            continue;
        }
        out.append(header.name);
        out.append(": ");
        out.append(header.value);
        out.push_back('\n');
    }
    return out;
}

std::string_view reason_phrase(int status) {
    const std::string_view phrase = http_reason_phrase(status);
    return phrase.empty() ? "OK" : phrase;
}

}  // namespace quelby::webview_host::webview2
