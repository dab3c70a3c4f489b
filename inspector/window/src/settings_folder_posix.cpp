#include "quelby/core/environment.h"
#include "quelby/window/settings_store.h"

namespace quelby {

std::optional<std::filesystem::path> settings_folder() {
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base-directory rules say.
    if (const auto config = environment_variable_utf8("XDG_CONFIG_HOME");
        config && !config->empty() && config->front() == '/') {
        return std::filesystem::path(*config) / "quelby_inspector";
    }
    if (const auto home = environment_variable_utf8("HOME"); home && !home->empty()) {
        return std::filesystem::path(*home) / ".config" / "quelby_inspector";
    }
    return std::nullopt;
}

}  // namespace quelby
