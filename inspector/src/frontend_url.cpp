#include "frontend_url.h"

#include <limits>

#include "devtools_scheme_name.h"
#include "environment.h"
#include "text_replace.h"

namespace quelby {

Result<std::string> frontend_url_from(std::string_view ws_target,
                                      const std::optional<std::string>& frontend_template,
                                      bool secure) {
    if (!frontend_template) {
        std::string url = "http://";
        url += DEVTOOLS_SCHEME_NAME;
        url += ".localhost/";
        url += START_PAGE;
        url += secure ? "?wss=" : "?ws=";
        const std::size_t size = url.size() + ws_target.size() + FRONTEND_QUERY_TAIL.size();
        if (size > FRONTEND_URL_LIMIT) {
            return std::unexpected(ErrorChain::from_message(
                frontend_url_too_long_message(size) + " (the ws target is " +
                std::to_string(ws_target.size()) + " bytes)"));
        }
        url += ws_target;
        url += FRONTEND_QUERY_TAIL;
        return url;
    }
    const std::string_view text = *frontend_template;
    // The size first: a template with many placeholders times a long target would otherwise be
    // allocated before anything could refuse it.
    const std::uint64_t placeholders = count_occurrences(text, WS_PLACEHOLDER);
    const std::uint64_t fixed = text.size() - placeholders * WS_PLACEHOLDER.size();
    const bool too_long =
        fixed > FRONTEND_URL_LIMIT ||
        (placeholders != 0 && ws_target.size() > (FRONTEND_URL_LIMIT - fixed) / placeholders);
    if (too_long) {
        const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
        const std::uint64_t size =
            placeholders != 0 && ws_target.size() > (max - fixed) / placeholders
                ? max
                : fixed + placeholders * ws_target.size();
        return std::unexpected(ErrorChain::from_message(
            frontend_url_too_long_message(size) + " (" + std::string(FRONTEND_ENV) + " has " +
            std::to_string(placeholders) + " \"" + std::string(WS_PLACEHOLDER) +
            "\" and the ws target is " + std::to_string(ws_target.size()) + " bytes)"));
    }
    return replace_all(text, WS_PLACEHOLDER, ws_target);
}

std::string frontend_url_too_long_message(std::uint64_t size) {
    return "the front-end URL would be " + std::to_string(size) + " bytes, over the 1 MiB bound (" +
           std::to_string(FRONTEND_URL_LIMIT) + " bytes)";
}

Result<std::string> frontend_url(std::string_view ws_target, bool secure) {
    return frontend_url_from(ws_target, environment_variable_utf8(FRONTEND_ENV), secure);
}

}  // namespace quelby
