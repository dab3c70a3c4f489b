// Where a download the page starts is written: the name the engine suggests, in the user's download
// folder, never outside it and never over an existing file.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace quelby::webview_host::gtk {

inline constexpr std::string_view FALLBACK_DOWNLOAD_NAME = "download";

// The suggested name reduced to one plain file name: its last path component (either slash),
// with control bytes removed; FALLBACK_DOWNLOAD_NAME when nothing usable is left.
std::string download_file_name(std::string_view suggested);

// `folder`/name, or the first free "stem (N)ext" when that is taken.
std::filesystem::path download_destination(
    const std::filesystem::path& folder, std::string_view suggested,
    const std::function<bool(const std::filesystem::path&)>& exists);

}  // namespace quelby::webview_host::gtk
