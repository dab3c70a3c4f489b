// A desktop for a window test: a private X server with a window manager (which gives the window
// the input focus, as on a desktop), a temporary home, the environment the program runs in, and
// real input through the X server.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"
#include "x11/x_display.h"

namespace quelby::x11_testing {

inline constexpr const char* WINDOW_TITLE = "quelby \xe2\x80\x94 script inspector";

class DesktopSession {
  public:
    DesktopSession();

    [[nodiscard]] const std::string& display() const { return display_.name(); }
    [[nodiscard]] const std::filesystem::path& home() const { return home_.path(); }
    [[nodiscard]] const std::vector<EnvChange>& env() const { return env_; }
    // The same, with the program's page diagnostics on.
    [[nodiscard]] std::vector<EnvChange> env_with_page_diagnostics() const;
    // An XDG folder as the program sees it ("XDG_CONFIG_HOME", "XDG_DATA_HOME").
    [[nodiscard]] std::filesystem::path xdg_folder(std::string_view variable) const;

    // Key presses (xdotool key names: "ctrl+g", "Return", "F8"), 80 ms apart.
    void press(const std::vector<std::string>& keys) const;
    // Text typed as a user types it.
    void type(const std::string& text) const;

    // Whether `test` holds for a screenshot taken within `limit` (every 250 ms).
    [[nodiscard]] bool screen_shows(const std::function<bool(const Screenshot&)>& test,
                                    std::chrono::seconds limit) const;

  private:
    XvfbDisplay display_;
    TemporaryHome home_;
    std::vector<EnvChange> env_;
    std::optional<test_support::ChildProcess> window_manager_;
};

}  // namespace quelby::x11_testing
