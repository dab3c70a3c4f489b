// Hosts without a birth-time call: the modification time only; creation stays absent.
#include <chrono>
#include <system_error>

#include "file_times.h"

namespace quelby::asset_gen {

FileTimes read_file_times(const std::filesystem::path& file) {
    std::error_code error;
    const auto modified = std::filesystem::last_write_time(file, error);
    if (error) {
        return {};
    }
    const auto since_epoch =
        std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(modified))
            .time_since_epoch()
            .count();
    if (since_epoch < 0) {
        return {};
    }
    return FileTimes{.last_modified = static_cast<std::uint64_t>(since_epoch), .created = {}};
}

}  // namespace quelby::asset_gen
