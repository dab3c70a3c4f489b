#include "quelby/resources/file_url.h"

#include "quelby/core/ascii_text.h"
#include "quelby/core/percent_encoding.h"

namespace quelby {

namespace {

constexpr std::string_view FILE_SCHEME = "file://";

bool starts_with_drive(std::string_view path) {
    return path.size() >= 3 && path[0] == '/' && is_ascii_alpha(path[1]) &&
           (path[2] == ':' || path[2] == '|');
}

}  // namespace

Result<std::filesystem::path> path_of_file_url(std::string_view url) {
    if (!starts_with_ignoring_ascii_case(url, FILE_SCHEME)) {
        return std::unexpected(ErrorChain::from_message("not a file: URL"));
    }
    std::string_view rest = url.substr(FILE_SCHEME.size());
    rest = rest.substr(0, rest.find_first_of("?#"));
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    if (!authority.empty() && !equals_ignoring_ascii_case(authority, "localhost")) {
        return std::unexpected(ErrorChain::from_message("the file is on another host"));
    }
    if (slash == std::string_view::npos) {
        return std::unexpected(ErrorChain::from_message("the URL names no path"));
    }
    auto decoded = percent_decoded(rest.substr(slash));
    if (!decoded) {
        return std::unexpected(ErrorChain::from_message("a percent escape is not two hex digits"));
    }
    if (decoded->find('\0') != std::string::npos) {
        return std::unexpected(ErrorChain::from_message("the path holds an escaped NUL"));
    }
    std::string path(decoded->data(), decoded->size());
    // "/C:/x" is a drive path where paths have drive letters (Windows), and a plain path elsewhere.
    if (starts_with_drive(path) && std::filesystem::path("C:/").has_root_name()) {
        path.erase(0, 1);
        path[1] = ':';
    }
    std::filesystem::path result(std::u8string(path.begin(), path.end()));
    if (!result.is_absolute()) {
        return std::unexpected(ErrorChain::from_message("the path is not absolute"));
    }
    return result;
}

std::string file_url_of(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    std::string url(FILE_SCHEME);
    if (!text.starts_with(u8"/")) {
        url.push_back('/');  // a drive path: file:///C:/...
    }
    return url +
           percent_encoded(
               std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), "/:");
}

}  // namespace quelby
