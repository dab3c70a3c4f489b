// The program's window step end to end: a real node inspector, the real program on a private X
// server, the front end attaching, and the window closed the way a window manager closes it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/child_process.h"
#include "support/node_inspector.h"
#include "x11/x_display.h"

namespace quelby::x11_testing {
namespace {

using test_support::ChildProcess;
using test_support::NodeInspector;

constexpr const char* TITLE = "quelby \xe2\x80\x94 script inspector";  // U+2014 in UTF-8

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no line feed>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

class InspectorWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        env_ = home_.environment();
        env_.insert(
            env_.end(),
            {{"LANG", "C.UTF-8"},
             {"LC_ALL", std::nullopt},
             {"LC_MESSAGES", std::nullopt},
             {"WAYLAND_DISPLAY", std::nullopt},
             {"DISPLAY", std::nullopt},
             // Only read by sanitizer builds: the toolkit's own lifetime allocations.
             {"LSAN_OPTIONS", "print_suppressions=0:suppressions=" QUELBY_GUI_LEAK_SUPPRESSIONS}});
    }

    // Sanitizer builds: once WebKit has run, LeakSanitizer crashes while scanning the dynamic TLS
    // of WebKit's threads at exit, so a run that gets as far as the web view is not leak-checked.
    // Address errors are still caught. (Read only by sanitizer runtimes.)
    static constexpr const char* NO_LEAK_CHECK = "detect_leaks=0";

    std::vector<EnvChange> with(std::vector<EnvChange> more) const {
        std::vector<EnvChange> all = env_;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }

    static void expect_three_lines(const std::string& out, const std::string& address) {
        const std::vector<std::string> lines = lines_of(out);
        ASSERT_EQ(lines.size(), 3u) << "stdout:\n" << out;
        EXPECT_TRUE(lines[0].starts_with("quelby_inspector: ws target  = " + address + "/"))
            << lines[0];
        EXPECT_TRUE(lines[1].starts_with(
            "quelby_inspector: devtools   = http://devtools.localhost/js_app.html?ws=" + address +
            "/"))
            << lines[1];
        EXPECT_TRUE(lines[1].ends_with("&experiments=true&v8only=true")) << lines[1];
        EXPECT_EQ(
            lines[2],
            "quelby_inspector: (frontend is embedded; override with QUELBY_INSPECTOR_FRONTEND)");
    }

    TemporaryHome home_;
    std::vector<EnvChange> env_;
};

TEST_F(InspectorWindow, AttachesToTheEngineShowsTheTitleAndExitsCleanlyOnClose) {
    XvfbDisplay display;
    NodeInspector node(NodeInspector::idle(), env_);
    ChildProcess program({test_support::inspector_binary(), node.address()},
                         with({{"DISPLAY", display.name()}, {"ASAN_OPTIONS", NO_LEAK_CHECK}}));

    ASSERT_TRUE(node.wait_attached(std::chrono::seconds(60)))
        << "the front end did not attach within 60 s; program stderr:\n"
        << program.err();
    const unsigned long window =
        wait_for_window_titled(display.name(), TITLE, Clock::now() + std::chrono::seconds(10));
    ASSERT_NE(window, 0u) << "no window titled \"" << TITLE << "\" on " << display.name();
    EXPECT_EQ(window_net_wm_name(display.name(), window), std::optional<std::string>(TITLE));

    ASSERT_TRUE(request_window_close(display.name(), window))
        << "the window does not accept WM_DELETE_WINDOW";
    const std::optional<int> status = program.wait_exit(Clock::now() + std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value()) << "the program did not end within 20 s of the close request";
    EXPECT_EQ(*status, 0);
    expect_three_lines(program.out(), node.address());
    EXPECT_EQ(program.err(), "");
}

// The debuggee restarts on the same port with a new target id: the window finds it and attaches
// with no input, prints the new ws target line, and still closes cleanly. With --no-reattach it
// stays on the dead target.
TEST_F(InspectorWindow, FollowsTheDebuggeeAcrossARestartUnlessToldNotTo) {
    XvfbDisplay display;
    for (const bool reattach : {true, false}) {
        SCOPED_TRACE(reattach ? "default" : "--no-reattach");
        std::optional<NodeInspector> first;
        first.emplace(NodeInspector::idle(), env_);
        const std::string address = first->address();
        std::vector<std::string> argv = {test_support::inspector_binary(), address};
        if (!reattach) {
            argv.emplace_back("--no-reattach");
        }
        ChildProcess program(argv,
                             with({{"DISPLAY", display.name()}, {"ASAN_OPTIONS", NO_LEAK_CHECK}}));
        ASSERT_TRUE(first->wait_attached(std::chrono::seconds(60))) << program.err();
        first.reset();  // killed: the front end's connection drops

        NodeInspector second({"--inspect=" + address, "-e", "setInterval(() => {}, 1000)"}, env_);
        ASSERT_EQ(second.address(), address);
        EXPECT_EQ(second.wait_attached(std::chrono::seconds(reattach ? 10 : 3)), reattach)
            << "node #2 stderr:\n"
            << second.process().err() << "program stderr:\n"
            << program.err();

        const unsigned long window =
            wait_for_window_titled(display.name(), TITLE, Clock::now() + std::chrono::seconds(10));
        ASSERT_NE(window, 0u);
        ASSERT_TRUE(request_window_close(display.name(), window));
        EXPECT_EQ(program.wait_exit(Clock::now() + std::chrono::seconds(20)),
                  std::optional<int>(0));
        const std::vector<std::string> lines = lines_of(program.out());
        ASSERT_EQ(lines.size(), reattach ? 4U : 3U) << program.out();
        if (reattach) {
            // The new target's line, not the old one again.
            EXPECT_TRUE(lines[3].starts_with("quelby_inspector: ws target  = " + address + "/"))
                << lines[3];
            EXPECT_NE(lines[3], lines[0]);
        }
        EXPECT_EQ(program.err(), "");
    }
}

// A front-end address the program does not carry: the web view asks the scheme for it and gets 404.
constexpr const char* MISSING_PAGE_TEMPLATE = "http://devtools.localhost/no-such-page.html?ws={ws}";

TEST_F(InspectorWindow, DiagnosticsSwitchReportsWhatThePageMissesAndIsSilentWhenOff) {
    XvfbDisplay display;
    NodeInspector node(NodeInspector::idle(), env_);
    const std::string expected =
        "quelby_inspector: page: not found: "
        "devtools://localhost/no-such-page.html?ws=" +
        node.address() + "/";
    for (const char* value : {"1", "0"}) {
        SCOPED_TRACE(std::string("QUELBY_INSPECTOR_PAGE_DIAGNOSTICS=") + value);
        ChildProcess program({test_support::inspector_binary(), node.address()},
                             with({{"DISPLAY", display.name()},
                                   {"ASAN_OPTIONS", NO_LEAK_CHECK},
                                   {"QUELBY_INSPECTOR_FRONTEND", MISSING_PAGE_TEMPLATE},
                                   {"QUELBY_INSPECTOR_PAGE_DIAGNOSTICS", value}}));
        const unsigned long window =
            wait_for_window_titled(display.name(), TITLE, Clock::now() + std::chrono::seconds(30));
        ASSERT_NE(window, 0u);
        const bool reported = program.read_until(
            [&] { return program.err().find(expected) != std::string::npos; },
            Clock::now() + std::chrono::seconds(value == std::string("1") ? 30 : 3));
        EXPECT_EQ(reported, value == std::string("1")) << "stderr:\n" << program.err();
        ASSERT_TRUE(request_window_close(display.name(), window));
        EXPECT_EQ(program.wait_exit(Clock::now() + std::chrono::seconds(20)),
                  std::optional<int>(0));
        if (value == std::string("0")) {
            EXPECT_EQ(program.err(), "");
        }
    }
}

TEST_F(InspectorWindow, WithoutADisplayReportsTheWindowFailureAfterTheThreeLines) {
    NodeInspector node(NodeInspector::idle(), env_);
    ChildProcess program({test_support::inspector_binary(), node.address()}, env_);
    const std::optional<int> status = program.wait_exit(Clock::now() + std::chrono::seconds(30));
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    EXPECT_EQ(*status, 1);
    expect_three_lines(program.out(), node.address());
    EXPECT_EQ(program.err(),
              "Error: failed to create inspector window\n\nCaused by:\n    cannot open display: "
              "(none)\n");
}

TEST_F(InspectorWindow, WithoutAUsableWebKitReportsTheWebViewFailure) {
    XvfbDisplay display;
    NodeInspector node(NodeInspector::idle(), env_);
    // A library by WebKit's name that exports nothing, found first by the dynamic loader.
    ChildProcess program(
        {test_support::inspector_binary(), node.address()},
        with({{"DISPLAY", display.name()}, {"LD_LIBRARY_PATH", QUELBY_FAKE_WEBKIT_DIR}}));
    const std::optional<int> status = program.wait_exit(Clock::now() + std::chrono::seconds(30));
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    EXPECT_EQ(*status, 1);
    expect_three_lines(program.out(), node.address());
    EXPECT_EQ(program.err(),
              "Error: failed to create webview (is WebKitGTK 4.1 installed?)\n\nCaused by:\n"
              "    libwebkit2gtk-4.1.so.0 has no function webkit_web_view_get_type\n");
}

}  // namespace
}  // namespace quelby::x11_testing
