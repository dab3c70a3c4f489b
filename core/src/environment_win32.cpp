#include <windows.h>

#include <vector>

#include "environment.h"
#include "wide_text_win32.h"

namespace quelby {

std::optional<std::string> environment_variable_utf8(std::string_view name) {
    // The wide environment holds the variable as set; the C runtime's copy is in the ANSI code
    // page.
    const std::wstring wide_name = utf8_to_wide(name);
    std::vector<wchar_t> buffer(256);
    while (true) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), buffer.data(),
                                                     static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::nullopt;
            }
            return std::string();  // set, but empty
        }
        if (length < buffer.size()) {
            const std::wstring_view value(buffer.data(), length);
            // Unpaired surrogates make the value invalid Unicode text, as the header promises.
            for (std::size_t i = 0; i < value.size(); ++i) {
                const wchar_t unit = value[i];
                if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < value.size() &&
                    value[i + 1] >= 0xDC00 && value[i + 1] <= 0xDFFF) {
                    ++i;
                } else if (unit >= 0xD800 && unit <= 0xDFFF) {
                    return std::nullopt;
                }
            }
            return wide_to_utf8(value);
        }
        buffer.resize(length);  // the size needed, terminator included
    }
}

}  // namespace quelby
