#include "serve_host_routes.h"

#include "quelby/core/percent_encoding.h"
#include "quelby/resources/frontend_host_script.h"

namespace quelby::serve {

std::string start_page_html(std::string_view js_app_html) {
    const std::string tag = "<script src=\"" + std::string(HOST_SCRIPT_PATH) + "\"></script>";
    std::string page(js_app_html);
    const std::size_t first_script = page.find("<script");
    page.insert(first_script == std::string::npos ? page.size() : first_script, tag);
    return page;
}

std::string served_host_script() {
    return frontend_host_call(
        "{served: true, protocol: location.protocol, zoomFactor: 1, token: new "
        "URLSearchParams(location.search).get('" +
        std::string(SECRET_PARAMETER) + "') || ''}");
}

std::string_view target_path(std::string_view target) {
    return target.substr(0, target.find('?'));
}

std::optional<std::string> query_parameter(std::string_view target, std::string_view name) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view query = target.substr(question + 1);
    query = query.substr(0, query.find('#'));
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        const std::size_t equals = pair.find('=');
        auto key = percent_decoded(pair.substr(0, equals), PlusSign::Space);
        if (key && *key == name) {
            return percent_decoded(
                equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1),
                PlusSign::Space);
        }
    }
    return std::nullopt;
}

bool same_secret(std::string_view given, std::string_view secret) {
    if (given.size() != secret.size() || secret.empty()) {
        return false;
    }
    unsigned difference = 0;
    for (std::size_t i = 0; i < secret.size(); ++i) {
        difference |= static_cast<unsigned>(static_cast<unsigned char>(given[i]) ^
                                            static_cast<unsigned char>(secret[i]));
    }
    return difference == 0;
}

}  // namespace quelby::serve
