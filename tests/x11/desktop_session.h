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

// The editor's colours in the default (light) theme: the background of the line where execution
// is paused, and the breakpoint marker in the line-number gutter.
inline constexpr Colour PAUSED_LINE{.red = 253, .green = 243, .blue = 170};
inline constexpr Colour BREAKPOINT_MARKER{.red = 66, .green = 133, .blue = 244};
inline constexpr int COLOUR_TOLERANCE = 8;
// The paused line spans the editor's width; nothing else in that colour is half as wide.
inline constexpr int PAUSED_LINE_MIN_RUN = 400;
// A marker covers some 40 × 14 pixels; a few stray pixels of that blue exist elsewhere.
inline constexpr std::size_t BREAKPOINT_MIN_PIXELS = 200;

bool shows_paused_line(const Screenshot& shot);
bool shows_breakpoint_marker(const Screenshot& shot);

// After F8 on a breakpoint between a debuggee's first two prints: its whole output, once the first
// print has come and two more seconds have passed (had it not stopped, the next print would follow
// within milliseconds). Empty when the first print never came.
std::string output_after_resuming(test_support::ChildProcess& debuggee,
                                  const std::string& first_print);

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

    // The front end's steps a user takes from the keyboard: open a file by name (Ctrl+P), and go to
    // a line and toggle a breakpoint there (Ctrl+G, Ctrl+B), each with the pauses the front end
    // needs between keys.
    void open_file(const std::string& name) const;
    void toggle_breakpoint_at(const std::string& line) const;
    // Asks the window titled WINDOW_TITLE (or `title`) to close, as its title bar's button does.
    void close_window() const;
    void close_window(const std::string& title) const;

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
