// Scripts the size of an ordinary bundle in the window, driven as a user drives it: the editor must
// show them, reveal the paused line, and stop node at a breakpoint near their end, as Chromium does
// with the same front end. A long script once left the editor empty while the web process ran at
// full speed for minutes, and a paused line far down was never scrolled to.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/child_process.h"
#include "support/node_inspector.h"
#include "x11/desktop_session.h"

namespace quelby::x11_testing {
namespace {

using test_support::ChildProcess;
using test_support::NodeInspector;

using namespace std::chrono_literals;

// `functions` one-line functions, then a loop that prints before and after a call. Returns the
// number of the call's line; node pauses first on the line before the loop.
int write_generated_script(const std::filesystem::path& path, int functions) {
    std::ofstream out(path);
    for (int i = 0; i < functions; ++i) {
        out << "function f" << i << "(a, b) { const s = \"value number " << i
            << " of the generated bundle\"; return a + b * " << i << " + s.length; }\n";
    }
    out << "let total = 0;\n"
           "for (let i = 0; i < 3; i++) {\n"
           "  console.log('before ' + i);\n"
           "  total += f1(i, 2);\n"
           "  console.log('after ' + i);\n"
           "}\n";
    return functions + 4;
}

class LargeScriptWindow : public ::testing::Test {
  protected:
    DesktopSession desktop_;
};

TEST_F(LargeScriptWindow, ThePausedLineFarDownIsShownWhenTheUserOpensTheScript) {
    const auto script = desktop_.home() / "mid.js";
    write_generated_script(script, 29994);
    NodeInspector node({"--inspect-brk=127.0.0.1:0", script.string()}, desktop_.env());
    ChildProcess program({test_support::inspector_binary(), node.address()}, desktop_.env());
    ASSERT_TRUE(node.wait_attached(60s)) << "program stderr:\n" << program.err();

    // node waits at line 29,995: the front end opens the script there and scrolls to it. (The
    // editor once laid out every line first: 22 s of a core at 15,000 lines, growing faster than
    // the script.)
    ASSERT_TRUE(desktop_.screen_shows(shows_paused_line, 60s))
        << "the paused line of a 30,000-line script is not on screen; program stderr:\n"
        << program.err();
    // The user opens the script by name: the editor stays at the paused line.
    desktop_.open_file("mid.js");
    EXPECT_TRUE(desktop_.screen_shows(shows_paused_line, 10s))
        << "the editor left the paused line after Ctrl+P";
    desktop_.close_window();
    EXPECT_EQ(program.wait_exit(Clock::now() + 20s), std::optional<int>(0));
}

TEST_F(LargeScriptWindow, ABundleSizedScriptOpensAndStopsAtABreakpointNearItsEnd) {
    const auto script = desktop_.home() / "big.js";
    const int call_line = write_generated_script(script, 59282);  // 59,288 lines, 6.8 MB
    NodeInspector node({"--inspect-brk=127.0.0.1:0", script.string()}, desktop_.env());
    ChildProcess program({test_support::inspector_binary(), node.address()}, desktop_.env());
    ASSERT_TRUE(node.wait_attached(60s)) << "program stderr:\n" << program.err();
    ASSERT_TRUE(desktop_.screen_shows(shows_paused_line, 90s))
        << "the paused line is not on screen; program stderr:\n"
        << program.err();

    // Opening the file again from the keyboard leaves the editor where it was.
    desktop_.open_file("big.js");
    EXPECT_TRUE(desktop_.screen_shows(shows_paused_line, 10s))
        << "the editor left the paused line after Ctrl+P";

    desktop_.toggle_breakpoint_at(std::to_string(call_line));
    ASSERT_TRUE(desktop_.screen_shows(shows_breakpoint_marker, 20s))
        << "no breakpoint marker after Ctrl+G " << call_line << ", Ctrl+B";
    desktop_.press({"F8"});
    EXPECT_EQ(output_after_resuming(node.process(), "before 0\n"), "before 0\n")
        << "node did not stop at line " << call_line;
    EXPECT_TRUE(desktop_.screen_shows(shows_paused_line, 10s))
        << "node stopped at line " << call_line << " but the line is not on screen";

    desktop_.close_window();
    EXPECT_EQ(program.wait_exit(Clock::now() + 20s), std::optional<int>(0));
}

}  // namespace
}  // namespace quelby::x11_testing
