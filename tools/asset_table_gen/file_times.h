// The file-system times the asset table records, in whole seconds since the Unix epoch.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace quelby::asset_gen {

struct FileTimes {
    std::optional<std::uint64_t> last_modified;
    std::optional<std::uint64_t> created;
};

// A time the file system does not report, or one before 1970, stays absent.
FileTimes read_file_times(const std::filesystem::path& file);

}  // namespace quelby::asset_gen
