#include <cstring>
#include <string>

#include "quelby/core/os_error.h"

namespace quelby {
namespace {

// strerror_r comes in two forms: GNU returns the text (which may be a static string rather than
// the buffer), POSIX returns a status and fills the buffer. Overloads pick whichever is present.
[[maybe_unused]] const char* error_text_of(const char* gnu_result, const char* /*buffer*/) {
    return gnu_result;
}
[[maybe_unused]] const char* error_text_of(int posix_result, const char* buffer) {
    return posix_result == 0 ? buffer : nullptr;
}

}  // namespace

std::string os_error_text(int code) {
    char buffer[256] = {};
    const char* text = error_text_of(strerror_r(code, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0') {
        return "Unknown error " + std::to_string(code);
    }
    return text;
}

}  // namespace quelby
