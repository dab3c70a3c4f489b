#include "start_url.h"

#include <algorithm>

namespace quelby::webview_host::gtk {

namespace {

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return ascii_lower(a) == ascii_lower(b); });
}

}  // namespace

std::string navigation_url(std::string_view url) {
    if (!starts_with_ignoring_case(url, HTTP_SCHEME_HOST_PREFIX)) {
        return std::string(url);
    }
    std::string rewritten(PRIVATE_SCHEME_PREFIX);
    rewritten.append(url.substr(HTTP_SCHEME_HOST_PREFIX.size()));
    return rewritten;
}

}  // namespace quelby::webview_host::gtk
