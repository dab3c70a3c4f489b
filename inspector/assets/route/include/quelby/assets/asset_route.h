// What a request path names among the embedded front-end files, and with which content type. The
// devtools scheme handler and the --serve HTTP server both answer from this one decision.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quelby {

struct AssetEntry;

inline constexpr std::string_view NOT_FOUND_CONTENT_TYPE = "text/plain; charset=utf-8";
inline constexpr std::array<std::uint8_t, 9> NOT_FOUND_BODY = {'N', 'o', 't', ' ', 'F',
                                                               'o', 'u', 'n', 'd'};

// The content type for a path, from the text after its last '.'.
std::string_view content_type_for_path(std::string_view path);

// The path of "scheme://authority/path?query#fragment", or of a bare "/path?query", verbatim (no
// escape decoded).
std::string_view path_of_uri(std::string_view uri);

// The decision for one request URI. Only the path counts; the query and a fragment are ignored.
struct AssetRoute {
    const AssetEntry* entry = nullptr;  // nullptr: not found
    // The entry's type, or NOT_FOUND_CONTENT_TYPE.
    std::string_view content_type = NOT_FOUND_CONTENT_TYPE;
    // The path was empty once its leading slashes were gone; `entry` is the start document's
    // (START_DOCUMENT).
    bool default_document = false;
};
AssetRoute route_asset_uri(std::string_view uri);

}  // namespace quelby
