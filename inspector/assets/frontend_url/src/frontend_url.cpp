#include "quelby/assets/frontend_url.h"

#include <limits>

#include "quelby/assets/devtools_scheme_name.h"
#include "quelby/core/ascii_text.h"
#include "quelby/core/environment.h"
#include "quelby/core/percent_encoding.h"
#include "quelby/core/text_replace.h"

namespace quelby {
namespace {

constexpr std::string_view WS_PLACEHOLDER = "{ws}";

// Pages reach the private scheme as http://devtools.HOST/: the form that is printed and that
// another browser could be given.
std::string http_form_prefix() {
    std::string prefix = "http://";
    prefix += DEVTOOLS_SCHEME_NAME;
    prefix += '.';
    return prefix;
}

// "?ws=" or "?wss=": the query up to the address.
std::string query_head(const WsTarget& target) {
    std::string head = "?";
    head += target.scheme();
    head += '=';
    return head;
}

}  // namespace

std::string frontend_query(const WsTarget& target, AddressInQuery form) {
    std::string query = query_head(target);
    if (form == AddressInQuery::PercentEncoded) {
        // The inspector's text goes into a header and a query: whatever could end the value ('&',
        // '#', blanks, quotes) or the header is escaped; an address of node's form is unchanged.
        query += percent_encoded(target.address, ":/@[]!$'()*+,;=");
    } else {
        query += target.address;
    }
    query += FRONTEND_QUERY_TAIL;
    return query;
}

Result<std::string> frontend_url_from(const WsTarget& target,
                                      const std::optional<std::string>& frontend_template) {
    const std::string_view address = target.address;
    if (!frontend_template) {
        std::string url = http_form_prefix();
        url += "localhost/";
        url += START_DOCUMENT;
        // Measured before the address is copied in: the query is the head, the address and the
        // tail.
        const std::size_t size =
            url.size() + query_head(target).size() + address.size() + FRONTEND_QUERY_TAIL.size();
        if (size > FRONTEND_URL_LIMIT) {
            return std::unexpected(ErrorChain::from_message(
                frontend_url_too_long_message(size) + " (the ws target is " +
                std::to_string(address.size()) + " bytes)"));
        }
        url += frontend_query(target, AddressInQuery::Verbatim);
        return url;
    }
    const std::string_view text = *frontend_template;
    // The size first: a template with many placeholders times a long target would otherwise be
    // allocated before anything could refuse it.
    const std::uint64_t placeholders = count_occurrences(text, WS_PLACEHOLDER);
    const std::uint64_t fixed = text.size() - placeholders * WS_PLACEHOLDER.size();
    const bool too_long =
        fixed > FRONTEND_URL_LIMIT ||
        (placeholders != 0 && address.size() > (FRONTEND_URL_LIMIT - fixed) / placeholders);
    if (too_long) {
        const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
        const std::uint64_t size =
            placeholders != 0 && address.size() > (max - fixed) / placeholders
                ? max
                : fixed + placeholders * address.size();
        return std::unexpected(ErrorChain::from_message(
            frontend_url_too_long_message(size) + " (" + std::string(FRONTEND_ENV) + " has " +
            std::to_string(placeholders) + " \"" + std::string(WS_PLACEHOLDER) +
            "\" and the ws target is " + std::to_string(address.size()) + " bytes)"));
    }
    return replace_all(text, WS_PLACEHOLDER, address);
}

std::string frontend_url_too_long_message(std::uint64_t size) {
    return "the front-end URL would be " + std::to_string(size) + " bytes, over the 1 MiB bound (" +
           std::to_string(FRONTEND_URL_LIMIT) + " bytes)";
}

Result<std::string> frontend_url(const WsTarget& target) {
    return frontend_url_from(target, environment_variable_utf8(FRONTEND_ENV));
}

std::string devtools_scheme_url(std::string_view url) {
    const std::string prefix = http_form_prefix();
    if (!starts_with_ignoring_ascii_case(url, prefix)) {
        return std::string(url);
    }
    std::string scheme_url(DEVTOOLS_SCHEME_NAME);
    scheme_url += "://";
    scheme_url.append(url.substr(prefix.size()));
    return scheme_url;
}

}  // namespace quelby
