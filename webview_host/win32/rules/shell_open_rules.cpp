#include "shell_open_rules.h"

#include "quelby/core/ascii_text.h"
#include "quelby/core/quoted_text.h"

namespace quelby::webview_host {
namespace {

constexpr bool is_scheme_character(char c) noexcept {
    return is_ascii_alpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// The URI's scheme (RFC 3986: a letter, then letters, digits, '+', '-', '.'), or empty.
std::string_view scheme_of(std::string_view uri) {
    const std::size_t colon = uri.find(':');
    if (colon == std::string_view::npos || colon == 0 || !is_ascii_alpha(uri.front())) {
        return {};
    }
    const std::string_view scheme = uri.substr(0, colon);
    for (const char c : scheme) {
        if (!is_scheme_character(c)) {
            return {};
        }
    }
    return scheme;
}

int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = ascii_lower(c);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// `text` with its %XX escapes decoded and '/' as '\'; nullopt for a malformed escape or a control
// character, which no path holds.
std::optional<std::string> decoded_path(std::string_view text) {
    std::string path;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            const int high = i + 2 < text.size() ? hex_value(text[i + 1]) : -1;
            const int low = high >= 0 ? hex_value(text[i + 2]) : -1;
            if (low < 0) {
                return std::nullopt;
            }
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return std::nullopt;
        }
        path += c == '/' ? '\\' : c;
    }
    return path;
}

// The path of a file: URI's remainder ("//host/path" or "/path"), or nullopt when it names none.
std::optional<std::string> windows_path(std::string_view rest) {
    rest = rest.substr(0, rest.find_first_of("?#"));
    std::string_view host;
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        host = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);
    }
    if (!host.empty() && !equals_ignoring_ascii_case(host, "localhost")) {
        // file://server/share/dir: a UNC path.
        if (rest.size() < 2) {
            return std::nullopt;
        }
        std::string unc = "//";
        unc += host;
        unc += rest;
        return decoded_path(unc);
    }
    // file:///C:/dir: a drive's path.
    const bool drive = rest.size() >= 3 && rest[0] == '/' && is_ascii_alpha(rest[1]) &&
                       rest[2] == ':' && (rest.size() == 3 || rest[3] == '/');
    if (!drive) {
        return std::nullopt;
    }
    auto path = decoded_path(rest.substr(1));
    if (path && path->size() == 2) {
        *path += '\\';  // "C:" alone is the drive's current folder, not its root
    }
    return path;
}

}  // namespace

ShellTarget shell_target(std::string_view uri) {
    std::string quoted = "\"";
    quoted += quote_peer_text(uri, Layout::Escape);
    quoted += '"';
    const std::string_view scheme = scheme_of(uri);
    if (scheme.size() < 2) {
        return {ShellTarget::Kind::Refused, "not an absolute URI: " + quoted};
    }
    for (const char c : uri) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '"') {
            return {ShellTarget::Kind::Refused,
                    "a URI holds no space, double quote or control character: " + quoted};
        }
    }
    if (!equals_ignoring_ascii_case(scheme, "file")) {
        return {ShellTarget::Kind::Address, std::string(uri)};
    }
    if (auto path = windows_path(uri.substr(scheme.size() + 1))) {
        return {ShellTarget::Kind::Folder, std::move(*path)};
    }
    return {ShellTarget::Kind::Refused, "not the address of a folder on this machine: " + quoted};
}

int shell_execute_error_code(std::intptr_t result) {
    constexpr int NOT_ENOUGH_MEMORY = 8;
    constexpr int SHARING_VIOLATION = 32;
    constexpr int NO_ASSOCIATION = 1155;
    constexpr int DDE_FAIL = 1156;
    constexpr int DLL_NOT_FOUND = 1157;
    switch (result) {
        case 0:  // out of memory or resources
            return NOT_ENOUGH_MEMORY;
        case 26:  // SE_ERR_SHARE
            return SHARING_VIOLATION;
        case 27:  // SE_ERR_ASSOCINCOMPLETE
        case 31:  // SE_ERR_NOASSOC
            return NO_ASSOCIATION;
        case 28:  // SE_ERR_DDETIMEOUT
        case 29:  // SE_ERR_DDEFAIL
        case 30:  // SE_ERR_DDEBUSY
            return DDE_FAIL;
        case 32:  // SE_ERR_DLLNOTFOUND
            return DLL_NOT_FOUND;
        default:  // 2, 3, 5, 8, 11: system codes already
            return static_cast<int>(result);
    }
}

}  // namespace quelby::webview_host
