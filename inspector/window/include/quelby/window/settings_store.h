// The window's settings between runs: the front end's preferences and the zoom factor, in one JSON
// file in the user's configuration folder. Every change is written at once, atomically (a new file
// renamed over the old one), so a crash leaves the old settings or the new ones, never half.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "quelby/core/error_chain.h"
#include "quelby/window/page_diagnostics.h"

namespace quelby {

inline constexpr std::string_view SETTINGS_FILE_NAME = "settings.json";

// "$XDG_CONFIG_HOME/quelby_inspector" (else "$HOME/.config/quelby_inspector") on Linux,
// "%APPDATA%\quelby_inspector" on Windows; nullopt when the environment names none.
std::optional<std::filesystem::path> settings_folder();

class SettingsStore {
  public:
    // Reads the file. A missing file gives the defaults; so does a corrupt or unreadable one, after
    // one line to `diagnostics`, and a corrupt one is kept beside as "settings.json.corrupt" so
    // that the next write does not destroy what may still be read by hand. Without a file path
    // (no configuration folder) the settings live for this run only.
    static SettingsStore open(std::optional<std::filesystem::path> file,
                              const DiagnosticSink& diagnostics);

    [[nodiscard]] const std::map<std::string, std::string>& preferences() const {
        return preferences_;
    }
    // True when no settings file existed: the first run that keeps settings here.
    [[nodiscard]] bool fresh() const { return fresh_; }
    [[nodiscard]] double zoom_factor() const { return zoom_factor_; }

    Status set_preference(const std::string& name, const std::string& value);
    Status remove_preference(const std::string& name);
    Status clear_preferences();
    // Kept within the front end's zoom steps (0.25 to 5).
    Status set_zoom_factor(double factor);

  private:
    Status write() const;

    std::optional<std::filesystem::path> file_;
    std::map<std::string, std::string> preferences_;
    double zoom_factor_ = 1.0;
    bool fresh_ = true;
};

}  // namespace quelby
