// Reads a front-end directory into the entries of the asset table, sorted as the table requires.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quelby::asset_gen {

struct ScannedAsset {
    std::string path;  // relative, components joined by '/'
    std::filesystem::path source;
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 32> sha256{};
    std::optional<std::uint64_t> last_modified;
    std::optional<std::uint64_t> created;
};

// Every regular file under `root`, in strictly increasing byte-wise order of `path`. Names that
// begin with '.' (files and directories) and symbolic links are left out; so is anything that is
// neither a file nor a directory. A name with a backslash is an error: lookups turn backslashes
// into '/', so such an entry could never be found.
std::expected<std::vector<ScannedAsset>, std::string> scan_asset_directory(
    const std::filesystem::path& root);

// Nothing when the digest cannot be computed.
std::optional<std::array<std::uint8_t, 32>> sha256_of(const std::vector<std::uint8_t>& bytes);

}  // namespace quelby::asset_gen
