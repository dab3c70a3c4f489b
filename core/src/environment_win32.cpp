#include <windows.h>

#include <vector>

#include "quelby/core/environment.h"
#include "quelby/core/wide_text_win32.h"

namespace quelby {

std::optional<std::wstring> environment_variable_wide(std::wstring_view name) {
    const std::wstring terminated_name(name);
    std::vector<wchar_t> buffer(256);
    while (true) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(terminated_name.c_str(), buffer.data(),
                                                     static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::nullopt;
            }
            return std::wstring();  // set, but empty
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length);  // the size needed, terminator included
    }
}

std::optional<std::string> environment_variable_utf8(std::string_view name) {
    const std::optional<std::wstring> value = environment_variable_wide(utf8_to_wide(name));
    // Unpaired surrogates make the value invalid Unicode text, as the header promises.
    if (!value || !is_well_formed_wide(*value)) {
        return std::nullopt;
    }
    return wide_to_utf8(*value);
}

}  // namespace quelby
