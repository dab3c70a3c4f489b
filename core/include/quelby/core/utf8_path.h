// Paths as UTF-8 text, the same on every platform: a plain string() is the ANSI code page on
// Windows, and a path built from a std::string is read in it.
#pragma once

#include <filesystem>
#include <string>

namespace quelby {

inline std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

inline std::filesystem::path path_of_utf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace quelby
