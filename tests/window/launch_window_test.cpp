// Launch mode with real windows: a parent that forks a child, each stopped by a `debugger;`
// statement at its top. Each process gets a window titled with its pid and command, is held until
// that window attaches, and runs on when the window is closed; the program ends with the parent's
// status.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <string>

#include "support/child_process.h"
#include "x11/desktop_session.h"

namespace quelby::x11_testing {
namespace {

using namespace std::chrono_literals;
using test_support::ChildProcess;
using test_support::Clock;

constexpr std::string_view PARENT = R"(console.log('parent before ' + process.pid);
debugger;
console.log('parent after');
const { fork } = require('child_process');
fork(__dirname + '/child.js').on('exit', () => { process.exitCode = 3; });
)";
constexpr std::string_view CHILD = R"(console.log('child before ' + process.pid);
debugger;
console.log('child after');
)";

// The pid at the end of a "<who> before <pid>" line.
std::string pid_in(const std::string& line) {
    return line.substr(line.rfind(' ') + 1);
}

std::string launch_title(const std::string& pid, const std::string& command) {
    return std::string(WINDOW_TITLE) + " \xe2\x80\x94 " + pid + " " + command;
}

bool printed(const ChildProcess& program, std::string_view text) {
    return program.out().find(text) != std::string::npos;
}

// Whether `text` is printed within two seconds: a process that was not held would print its next
// line within milliseconds.
bool prints_soon(ChildProcess& program, std::string_view text) {
    return program.read_until([&] { return printed(program, text); }, Clock::now() + 2s);
}

TEST(LaunchWindows, EachNodeProcessGetsItsOwnWindowAndWaitsForIt) {
    if (!test_support::find_in_path("node")) {
        GTEST_SKIP() << "node is not installed";
    }
    const DesktopSession desktop;
    std::ofstream(desktop.home() / "parent.js") << PARENT;
    std::ofstream(desktop.home() / "child.js") << CHILD;
    // Started from the scripts' folder, as a user would: the titles show the relative names.
    std::vector<EnvChange> env = desktop.env();
    ChildProcess program(
        {"sh", "-c",
         "cd \"$HOME\" && exec '" + test_support::inspector_binary() + "' -- node parent.js"},
        env);

    const auto parent_line = program.read_line(60s);
    ASSERT_TRUE(parent_line) << program.err();
    ASSERT_TRUE(parent_line->starts_with("parent before ")) << *parent_line;
    const std::string parent_title = launch_title(pid_in(*parent_line), "node parent.js");
    ASSERT_NE(wait_for_window_titled(desktop.display(), parent_title, Clock::now() + 30s), 0U)
        << program.err();
    // Held at its `debugger;` by its window: the paused line shows, the next line never printed.
    EXPECT_TRUE(desktop.screen_shows(shows_paused_line, 60s)) << program.err();
    EXPECT_FALSE(prints_soon(program, "parent after"));

    // Closing the window detaches: the parent runs on and forks the child, which gets a window of
    // its own and is held there in turn.
    desktop.close_window(parent_title);
    const auto after = program.read_line(30s);
    ASSERT_TRUE(after) << program.err();
    EXPECT_EQ(*after, "parent after");
    const auto child_line = program.read_line(30s);
    ASSERT_TRUE(child_line) << program.err();
    ASSERT_TRUE(child_line->starts_with("child before ")) << *child_line;
    const std::string child_title = launch_title(pid_in(*child_line), "node child.js");
    ASSERT_NE(wait_for_window_titled(desktop.display(), child_title, Clock::now() + 30s), 0U)
        << program.err();
    EXPECT_TRUE(desktop.screen_shows(shows_paused_line, 60s)) << program.err();
    EXPECT_FALSE(prints_soon(program, "child after"));

    desktop.close_window(child_title);
    const auto status = program.wait_exit(Clock::now() + 30s);
    ASSERT_TRUE(status) << program.err();
    EXPECT_EQ(*status, 3) << program.err();
    EXPECT_TRUE(printed(program, "child after"));
    // One ws target line per attached process, on standard error.
    std::size_t lines = 0;
    for (std::size_t at = 0;
         (at = program.err().find("quelby_inspector: ws target  = ", at)) != std::string::npos;
         ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 2U) << program.err();
}

// A process that ends closes its window: the program does not wait for the user.
TEST(LaunchWindows, AProcessThatEndsTakesItsWindowAlong) {
    if (!test_support::find_in_path("node")) {
        GTEST_SKIP() << "node is not installed";
    }
    const DesktopSession desktop;
    std::ofstream(desktop.home() / "short.js")
        << "console.log('short ' + process.pid);\nsetTimeout(() => process.exit(4), 1500);\n";
    ChildProcess program(
        {test_support::inspector_binary(), "--", "node", (desktop.home() / "short.js").string()},
        desktop.env());
    const auto line = program.read_line(60s);
    ASSERT_TRUE(line) << program.err();
    const auto status = program.wait_exit(Clock::now() + 60s);
    ASSERT_TRUE(status) << program.err();
    EXPECT_EQ(*status, 4) << program.err();
}

}  // namespace
}  // namespace quelby::x11_testing
