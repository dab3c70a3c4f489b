#include "download_rules.h"

#include <algorithm>
#include <string>

namespace quelby::webview_host::gtk {

std::string download_file_name(std::string_view suggested) {
    const std::size_t slash = suggested.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        suggested.remove_prefix(slash + 1);
    }
    std::string name;
    for (char c : suggested) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            name.push_back(c);
        }
    }
    if (name.empty() || name == "." || name == "..") {
        return std::string(FALLBACK_DOWNLOAD_NAME);
    }
    return name;
}

std::filesystem::path download_destination(
    const std::filesystem::path& folder, std::string_view suggested,
    const std::function<bool(const std::filesystem::path&)>& exists) {
    const std::filesystem::path name(download_file_name(suggested));
    std::filesystem::path candidate = folder / name;
    const std::string stem = name.stem().string();
    const std::string extension = name.extension().string();
    for (int copy = 1; exists(candidate); ++copy) {
        candidate = folder / (stem + " (" + std::to_string(copy) + ")" + extension);
    }
    return candidate;
}

}  // namespace quelby::webview_host::gtk
