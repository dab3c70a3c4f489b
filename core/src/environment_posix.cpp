#include <cstdlib>

#include "quelby/core/environment.h"
#include "quelby/core/utf8.h"

namespace quelby {

std::optional<std::string> environment_variable_utf8(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr || !is_valid_utf8(value)) {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace quelby
