#include <cstring>

#include "os_error.h"

namespace quelby {

std::string os_error_text(int code) {
    char buffer[256] = {};
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    if (text == nullptr || *text == '\0') {
        return "Unknown error " + std::to_string(code);
    }
    return text;
}

}  // namespace quelby
