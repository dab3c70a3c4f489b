// The operating system's own description of an error code; one backend per platform.
#pragma once

#include <string>

namespace quelby {

// The system's text for `code` (errno on POSIX, a Win32/Winsock code on Windows), never empty:
// a generic text stands in where the system has none.
std::string os_error_text(int code);

}  // namespace quelby
