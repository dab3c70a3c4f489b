#include "quelby/assets/asset_table.h"

#include <algorithm>

namespace quelby {

std::string normalise_asset_key(std::string_view key) {
    std::string copy(key);
    std::replace(copy.begin(), copy.end(), '\\', '/');
    return copy;
}

const AssetEntry* lookup_asset(std::span<const AssetEntry> entries, std::string_view key) {
    const std::string normalised = normalise_asset_key(key);
    return find_asset_entry(
        entries, normalised,
        [](std::string_view path, std::string_view wanted) { return path.compare(wanted); });
}

}  // namespace quelby
