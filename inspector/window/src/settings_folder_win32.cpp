#include "quelby/core/environment.h"
#include "quelby/window/settings_store.h"

namespace quelby {

std::optional<std::filesystem::path> settings_folder() {
    if (const auto appdata = environment_variable_utf8("APPDATA"); appdata && !appdata->empty()) {
        const std::u8string text(appdata->begin(), appdata->end());
        return std::filesystem::path(text) / "quelby_inspector";
    }
    return std::nullopt;
}

}  // namespace quelby
