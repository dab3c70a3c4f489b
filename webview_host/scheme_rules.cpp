#include "quelby/webview_host/scheme_rules.h"

#include <algorithm>
#include <array>
#include <set>

namespace quelby::webview_host {

bool is_registrable_scheme(std::string_view name) noexcept {
    constexpr std::array<std::string_view, 9> ENGINE_SCHEMES = {
        "http", "https", "file", "data", "blob", "about", "ws", "wss", "javascript"};
    if (name.empty() || !(name[0] >= 'a' && name[0] <= 'z')) {
        return false;
    }
    const bool well_formed = std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
    return well_formed &&
           std::find(ENGINE_SCHEMES.begin(), ENGINE_SCHEMES.end(), name) == ENGINE_SCHEMES.end();
}

Status check_private_schemes(const std::vector<std::pair<std::string, SchemeHandler>>& schemes,
                             std::string_view engine) {
    std::set<std::string> seen;
    for (const auto& [name, handler] : schemes) {
        if (!is_registrable_scheme(name)) {
            return std::unexpected(ErrorChain::from_message(std::string(engine) +
                                                            " cannot serve the URI scheme \"" +
                                                            name + "\" through the program"));
        }
        if (!seen.insert(name).second) {
            return std::unexpected(
                ErrorChain::from_message("the URI scheme \"" + name + "\" is registered twice"));
        }
        if (!handler) {
            return std::unexpected(
                ErrorChain::from_message("the URI scheme \"" + name + "\" has no handler"));
        }
    }
    return {};
}

}  // namespace quelby::webview_host
