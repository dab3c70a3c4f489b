// Linux: statx is the one call that reports a birth time, where the file system keeps one.
#include <fcntl.h>
#include <sys/stat.h>

#include "file_times.h"

namespace quelby::asset_gen {
namespace {

std::optional<std::uint64_t> seconds_if(bool reported, const statx_timestamp& time) {
    if (!reported || time.tv_sec < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(time.tv_sec);
}

}  // namespace

FileTimes read_file_times(const std::filesystem::path& file) {
    struct statx info {};
    if (statx(AT_FDCWD, file.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MTIME | STATX_BTIME, &info) != 0) {
        return {};
    }
    return FileTimes{
        .last_modified = seconds_if((info.stx_mask & STATX_MTIME) != 0, info.stx_mtime),
        .created = seconds_if((info.stx_mask & STATX_BTIME) != 0, info.stx_btime),
    };
}

}  // namespace quelby::asset_gen
