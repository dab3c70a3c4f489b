// Wide (UTF-16) system strings at the Windows API boundary; wchar_t is 16 bits there.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "quelby/core/utf16.h"

namespace quelby {

inline std::string wide_to_utf8(std::wstring_view text) {
    return utf16_to_utf8(std::u16string(text.begin(), text.end()));
}

inline std::wstring utf8_to_wide(std::string_view text) {
    const std::u16string converted = utf8_to_utf16(text);
    return std::wstring(converted.begin(), converted.end());
}

inline bool is_well_formed_wide(std::wstring_view text) {
    return is_well_formed_utf16(std::u16string(text.begin(), text.end()));
}

// The variable's value as the wide environment holds it (the C runtime's copy is in the ANSI code
// page), empty when it is set to nothing; nullopt when it is unset.
std::optional<std::wstring> environment_variable_wide(std::wstring_view name);

}  // namespace quelby
