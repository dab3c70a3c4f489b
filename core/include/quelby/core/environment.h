// Reading the process environment as UTF-8; one backend per platform (environment_posix.cpp,
// and environment_win32.cpp over the wide-character environment).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quelby {

// The variable's value, or nullopt when it is unset or its value is not valid Unicode text.
std::optional<std::string> environment_variable_utf8(std::string_view name);

}  // namespace quelby
