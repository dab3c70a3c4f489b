// The front end's files, compiled into the program as a constant table sorted by path.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quelby {

inline constexpr std::size_t SHA256_SIZE = 32;

// One embedded file. Everything it refers to is static data that lives as long as the process.
struct AssetEntry {
    std::string_view path;  // relative, '/'-separated, no leading '/'
    std::span<const std::uint8_t> bytes;
    std::array<std::uint8_t, SHA256_SIZE> sha256;  // raw digest of `bytes`
    std::optional<std::uint64_t> last_modified;    // seconds since the Unix epoch
    std::optional<std::uint64_t> created;
};

// The binary search of the table, over any span sorted strictly by path. `compare(path, key)`
// answers like std::string_view::compare; tests pass a counting comparator. The search never
// stops early, so every key costs the same number of comparisons: ceil(log2 n) probes and one
// final comparison (none at all for an empty span).
template <class Compare>
const AssetEntry* find_asset_entry(std::span<const AssetEntry> entries, std::string_view key,
                                   Compare&& compare) {
    if (entries.empty()) {
        return nullptr;
    }
    std::size_t base = 0;
    std::size_t size = entries.size();
    while (size > 1) {
        const std::size_t half = size / 2;
        if (!(compare(entries[base + half].path, key) > 0)) {
            base += half;
        }
        size -= half;
    }
    return compare(entries[base].path, key) == 0 ? &entries[base] : nullptr;
}

// The key as the table is searched for it: a copy with every backslash turned into '/', and
// nothing else changed (no slash trimmed, no '..' resolved, no escape decoded, no case folded).
std::string normalise_asset_key(std::string_view key);

// The entry of `entries` whose path equals the normalised key, or nullptr.
const AssetEntry* lookup_asset(std::span<const AssetEntry> entries, std::string_view key);

class AssetTable {
  public:
    // All embedded files, strictly increasing by byte-wise path.
    static std::span<const AssetEntry> entries() noexcept;
    // The file at `path` (relative to the front end's root), or nullptr.
    static const AssetEntry* lookup(std::string_view path) { return lookup_asset(entries(), path); }
};

}  // namespace quelby
