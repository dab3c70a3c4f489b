// A private X server (Xvfb) for the window tests and the few X requests they make: find a window by
// its title as the window system reports it, and ask it to close the way a window manager does.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temporary_folder.h"

namespace quelby::x11_testing {

using test_support::Clock;
using test_support::EnvChange;

class XvfbDisplay {
  public:
    // Starts Xvfb on a display number picked at random from a wide range (tried again on another
    // when taken), and waits until it is ready (-displayfd); throws when none starts. Not the
    // lowest free number: a server that is just ending removes its socket after its lock, so a new
    // server on the same number could lose its socket to the old one.
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // ":N"
    [[nodiscard]] const std::string& name() const { return name_; }

  private:
    std::optional<test_support::ChildProcess> xvfb_;
    std::string name_;
};

// A temporary folder for HOME and the XDG folders, removed at the end.
class TemporaryHome {
  public:
    TemporaryHome();

    [[nodiscard]] const std::filesystem::path& path() const { return folder_.path(); }
    // HOME, XDG_{CONFIG,CACHE,DATA,STATE}_HOME and XDG_RUNTIME_DIR inside it.
    [[nodiscard]] std::vector<EnvChange> environment() const;

  private:
    test_support::TemporaryFolder folder_;
};

// The X window (top level, mapped or not) whose _NET_WM_NAME is exactly `title`, waiting for it
// until the deadline; 0 when none appeared.
unsigned long wait_for_window_titled(const std::string& display, const std::string& title,
                                     Clock::time_point deadline);

// The window's _NET_WM_NAME (UTF-8), or nullopt when it has none.
std::optional<std::string> window_net_wm_name(const std::string& display, unsigned long window);

// Sends the ICCCM close request (WM_PROTOCOLS / WM_DELETE_WINDOW client message), as a window
// manager does for its close button; false when the window does not take part in the protocol.
bool request_window_close(const std::string& display, unsigned long window);

// What the screen shows, as 8-bit red, green and blue per pixel, row by row.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

struct Colour {
    int red = 0;
    int green = 0;
    int blue = 0;
};

Screenshot capture_screen(const std::string& display);

// How many pixels are within `tolerance` of `colour` in every channel.
std::size_t count_pixels_near(const Screenshot& shot, Colour colour, int tolerance);
// The longest horizontal run of such pixels: its length, and where it starts (the first of equal
// runs, top to bottom and left to right); a length of 0 when there is none.
struct PixelRun {
    int length = 0;
    int x = 0;
    int y = 0;
};
PixelRun longest_run_of(const Screenshot& shot, Colour colour, int tolerance);
// Its length alone.
int longest_run_near(const Screenshot& shot, Colour colour, int tolerance);

}  // namespace quelby::x11_testing
