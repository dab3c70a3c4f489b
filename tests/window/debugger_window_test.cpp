// The window as a debugger, driven the way a user drives it: real key presses on a private X
// server with a window manager, against a real node paused at its first line. What counts is what
// the debuggee does and what the screen shows, not that a WebSocket connected.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/node_inspector.h"
#include "x11/desktop_session.h"

namespace quelby::x11_testing {
namespace {

using test_support::ChildProcess;
using test_support::NodeInspector;

using namespace std::chrono_literals;

// Line 5 is the one the breakpoint goes on: the loop prints a line before it and one after it.
constexpr std::string_view DEBUGGEE = R"(let count = 0;
function tick() {
  count += 1;
  console.log('before ' + count);
  const marker = count * 2;
  console.log('after ' + count + ' ' + marker);
}
setInterval(tick, 200);
)";
constexpr const char* BREAKPOINT_LINE = "5";

class DebuggerWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        script_ = desktop_.home() / "debuggee.js";
        std::ofstream(script_) << DEBUGGEE;
    }

    DesktopSession desktop_;
    std::filesystem::path script_;
};

TEST_F(DebuggerWindow, ShowsThePausedLineAndStopsAtABreakpointSetFromTheKeyboard) {
    NodeInspector node({"--inspect-brk=127.0.0.1:0", script_.string()}, desktop_.env());
    ChildProcess program({test_support::inspector_binary(), node.address()}, desktop_.env());
    ASSERT_TRUE(node.wait_attached(60s)) << "program stderr:\n" << program.err();
    ASSERT_NE(wait_for_window_titled(desktop_.display(), WINDOW_TITLE, Clock::now() + 10s), 0u);

    // node waits at the first line; the front end opens the script there and marks the line.
    ASSERT_TRUE(desktop_.screen_shows(shows_paused_line, 60s))
        << "the paused line is not highlighted; program stderr:\n"
        << program.err();
    EXPECT_FALSE(shows_breakpoint_marker(capture_screen(desktop_.display())))
        << "a breakpoint marker is shown before any was set";

    // Go to the line and toggle a breakpoint there, as a user does from the keyboard.
    desktop_.toggle_breakpoint_at(BREAKPOINT_LINE);
    ASSERT_TRUE(desktop_.screen_shows(shows_breakpoint_marker, 20s))
        << "no breakpoint marker after Ctrl+G " << BREAKPOINT_LINE << ", Ctrl+B";

    // Resume: the loop runs up to the breakpoint and stops there.
    desktop_.press({"F8"});
    EXPECT_EQ(output_after_resuming(node.process(), "before 1\n"), "before 1\n")
        << "the debuggee did not stop at line " << BREAKPOINT_LINE;

    desktop_.close_window();
    EXPECT_EQ(program.wait_exit(Clock::now() + 20s), std::optional<int>(0));
    EXPECT_EQ(program.err(), "");
}

}  // namespace
}  // namespace quelby::x11_testing
