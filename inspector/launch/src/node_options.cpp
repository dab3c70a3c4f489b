#include "quelby/launch/node_options.h"

namespace quelby::launch {

std::string node_options_with_require(const std::optional<std::string>& existing,
                                      std::string_view script) {
    std::string options;
    if (existing && !existing->empty()) {
        options = *existing + " ";
    }
    options += "--require \"";
    for (const char c : script) {
        if (c == '"' || c == '\\') {
            options += '\\';
        }
        options += c;
    }
    options += '"';
    return options;
}

}  // namespace quelby::launch
