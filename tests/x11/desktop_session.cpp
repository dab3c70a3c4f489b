#include "x11/desktop_session.h"

#include <gtest/gtest.h>

#include <thread>

namespace quelby::x11_testing {

using namespace std::chrono_literals;

DesktopSession::DesktopSession() : env_(home_.environment()) {
    env_.insert(env_.end(),
                {{"LANG", "C.UTF-8"},
                 {"LC_ALL", std::nullopt},
                 {"LC_MESSAGES", std::nullopt},
                 {"WAYLAND_DISPLAY", std::nullopt},
                 {"DISPLAY", display_.name()},
                 {"QUELBY_INSPECTOR_PAGE_DIAGNOSTICS", std::nullopt},
                 // GTK's dialogs keep their state through GSettings, which has no session bus here.
                 {"GSETTINGS_BACKEND", "memory"},
                 // Sanitizer builds: LeakSanitizer crashes while scanning the dynamic
                 // TLS of WebKit's threads at exit; address errors are still caught.
                 {"ASAN_OPTIONS", "detect_leaks=0"}});
    window_manager_.emplace(
        std::vector<std::string>{"matchbox-window-manager", "-use_titlebar", "yes"}, env_);
}

std::vector<EnvChange> DesktopSession::env_with_page_diagnostics() const {
    std::vector<EnvChange> env = env_;
    env.emplace_back("QUELBY_INSPECTOR_PAGE_DIAGNOSTICS", "1");
    return env;
}

std::filesystem::path DesktopSession::xdg_folder(std::string_view variable) const {
    for (const auto& [name, value] : env_) {
        if (name == variable && value) {
            return *value;
        }
    }
    ADD_FAILURE() << variable << " is not set for the program";
    return home_.path();
}

void DesktopSession::press(const std::vector<std::string>& keys) const {
    std::vector<std::string> command = {"xdotool", "key", "--delay", "80"};
    command.insert(command.end(), keys.begin(), keys.end());
    test_support::ChildProcess xdotool(command, env_);
    ASSERT_EQ(xdotool.wait_exit(Clock::now() + 10s), std::optional<int>(0)) << xdotool.err();
}

void DesktopSession::type(const std::string& text) const {
    test_support::ChildProcess xdotool({"xdotool", "type", "--delay", "60", text}, env_);
    ASSERT_EQ(xdotool.wait_exit(Clock::now() + 20s), std::optional<int>(0)) << xdotool.err();
}

bool shows_paused_line(const Screenshot& shot) {
    return longest_run_near(shot, PAUSED_LINE, COLOUR_TOLERANCE) >= PAUSED_LINE_MIN_RUN;
}

bool shows_breakpoint_marker(const Screenshot& shot) {
    return count_pixels_near(shot, BREAKPOINT_MARKER, COLOUR_TOLERANCE) >= BREAKPOINT_MIN_PIXELS;
}

std::string output_after_resuming(test_support::ChildProcess& debuggee,
                                  const std::string& first_print) {
    if (!debuggee.read_until([&] { return debuggee.out().find(first_print) != std::string::npos; },
                             Clock::now() + 20s)) {
        return {};
    }
    debuggee.read_until([] { return false; }, Clock::now() + 2s);
    return debuggee.out();
}

void DesktopSession::close_window() const {
    close_window(WINDOW_TITLE);
}

void DesktopSession::close_window(const std::string& title) const {
    const unsigned long window = wait_for_window_titled(display(), title, Clock::now() + 5s);
    ASSERT_NE(window, 0UL) << "no window titled " << title;
    ASSERT_TRUE(request_window_close(display(), window));
}

void DesktopSession::open_file(const std::string& name) const {
    press({"ctrl+p"});
    std::this_thread::sleep_for(700ms);
    type(name);
    std::this_thread::sleep_for(1s);
    press({"Return"});
    std::this_thread::sleep_for(1s);
}

void DesktopSession::toggle_breakpoint_at(const std::string& line) const {
    press({"ctrl+g"});
    std::this_thread::sleep_for(500ms);
    // Typed, not pressed: xdotool takes "59286" for the number of a key symbol, not five digits.
    type(line);
    press({"Return"});
    std::this_thread::sleep_for(300ms);
    press({"ctrl+b"});
}

bool DesktopSession::screen_shows(const std::function<bool(const Screenshot&)>& test,
                                  std::chrono::seconds limit) const {
    const auto deadline = Clock::now() + limit;
    while (true) {
        if (test(capture_screen(display_.name()))) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(250ms);
    }
}

}  // namespace quelby::x11_testing
