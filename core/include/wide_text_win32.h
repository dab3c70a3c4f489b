// Wide (UTF-16) system strings at the Windows API boundary; wchar_t is 16 bits there.
#pragma once

#include <string>
#include <string_view>

#include "utf16.h"

namespace quelby {

inline std::string wide_to_utf8(std::wstring_view text) {
    return utf16_to_utf8(std::u16string(text.begin(), text.end()));
}

inline std::wstring utf8_to_wide(std::string_view text) {
    const std::u16string converted = utf8_to_utf16(text);
    return std::wstring(converted.begin(), converted.end());
}

}  // namespace quelby
