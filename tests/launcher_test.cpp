// The launcher: the command line as a unit, and the real program run as a child process.
#include "launcher.h"

#include <gtest/gtest.h>

#include <csignal>

#include "support/fake_inspector.h"
#include "support/subprocess.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using testing::FakeAnswer;
using testing::FakeInspector;
using testing::http_reply;
using testing::inspector_binary;
using testing::run_process;

constexpr std::string_view LIST = R"([{"webSocketDebuggerUrl":"ws://127.0.0.1:9229/abc"}])";
const std::string USAGE_REPORT = "Error: " + std::string(USAGE) + "\n";

TEST(CommandLine, FindsTheFlagAnywhereAndTheFirstAddress) {
    struct Case {
        std::vector<std::string> args;
        bool print_url;
        std::optional<std::string> addr;
    };
    const std::vector<Case> cases = {
        {{}, false, std::nullopt},
        {{"--print-url"}, true, std::nullopt},
        {{"--print-url", "127.0.0.1:9229"}, true, "127.0.0.1:9229"},
        {{"127.0.0.1:9229", "--print-url"}, true, "127.0.0.1:9229"},
        {{"--print-url", "a:1", "--print-url"}, true, "a:1"},
        {{"--verbose", "127.0.0.1:9229"}, false, "127.0.0.1:9229"},
        {{"--print-URL", "127.0.0.1:9229"}, false, "127.0.0.1:9229"},
        {{"--print-url=1", "x:1"}, false, "x:1"},
        {{"127.0.0.1:9229", "127.0.0.1:9230"}, false, "127.0.0.1:9229"},
        {{"-v"}, false, "-v"},
        {{"-"}, false, "-"},
        {{"", "127.0.0.1:9229"}, false, ""},
        {{"--", "x"}, false, "x"},
        {{"---print-url"}, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_EQ(parse_command_line(c.args), (CommandLine{c.print_url, c.addr}));
    }
}

TEST(ConsoleLines, LineUpTheirEqualsSigns) {
    const auto lines = console_lines("W", "U");
    EXPECT_EQ(lines[0], "quelby_inspector: ws target  = W");
    EXPECT_EQ(lines[1], "quelby_inspector: devtools   = U");
    EXPECT_EQ(lines[2],
              "quelby_inspector: (frontend is embedded; override with QUELBY_INSPECTOR_FRONTEND)");
    EXPECT_EQ(lines[0].find('='), lines[1].find('='));
}

std::string three_lines(std::string_view ws, std::string_view url) {
    std::string out;
    for (const auto& line : console_lines(ws, url)) {
        out += line + "\n";
    }
    return out;
}

std::string default_url(std::string_view ws) {
    return "http://devtools.localhost/js_app.html?ws=" + std::string(ws) +
           "&experiments=true&v8only=true";
}

TEST(Program, WithoutAnAddressReportsTheUsage) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {"--print-url"}, {"--a", "--b"}}) {
        std::vector<std::string> argv = {inspector_binary()};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = run_process(argv);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, USAGE_REPORT);
    }
}

TEST(Program, PrintsThreeLinesAndStopsWithPrintUrl) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST), false}});
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--print-url", fake.address()},
                                               {fake.address(), "--print-url"},
                                               {"--x", fake.address(), "--print-url", "y"}}) {
        std::vector<std::string> argv = {inspector_binary()};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = run_process(argv);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out, three_lines("127.0.0.1:9229/abc", default_url("127.0.0.1:9229/abc")));
        EXPECT_EQ(result.err, "");
    }
}

TEST(Program, UsesTheFrontendTemplateButKeepsTheEmbeddedNote) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST), false}});
    const auto result =
        run_process({inspector_binary(), "--print-url", fake.address()},
                    {{"QUELBY_INSPECTOR_FRONTEND", "http://127.0.0.1:8080/i.html?ws={ws}&x={ws}"}});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(
        result.out,
        three_lines("127.0.0.1:9229/abc",
                    "http://127.0.0.1:8080/i.html?ws=127.0.0.1:9229/abc&x=127.0.0.1:9229/abc"));
}

TEST(Program, WithoutPrintUrlGoesOnToTheWindowStep) {
    // The window step's own outcome is not this test's business (another unit); what matters is
    // that the lines come first and a failure there is reported with status 1.
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST), false}});
    const auto result = run_process({inspector_binary(), "--print-URL", fake.address()},
                                    {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
    EXPECT_EQ(result.out, three_lines("127.0.0.1:9229/abc", default_url("127.0.0.1:9229/abc")));
    if (result.exit_code != 0) {
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_TRUE(result.err.starts_with("Error: failed to create ")) << result.err;
    }
}

TEST(Program, ReportsARefusedConnectionAfterTheDeadline) {
    testing::RefusingPort refusing;
    const auto result = run_process({inspector_binary(), "--print-url", refusing.address()});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: failed to read inspector targets from http://" +
                              refusing.address() +
                              "/json\n\nCaused by:\n    0: connect to inspector at " +
                              refusing.address() + "\n    1: Connection refused (os error 111)\n");
    EXPECT_GE(result.elapsed, 5000ms);
    EXPECT_LT(result.elapsed, 6500ms);
}

TEST(Program, IndentsAPrettyPrintedEmptyListInTheReport) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", "[\n]\n"), false}});
    const auto result = run_process({inspector_binary(), "--print-url", fake.address()});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: failed to read inspector targets from http://" + fake.address() +
                              "/json\n\nCaused by:\n    no webSocketDebuggerUrl in inspector "
                              "/json: [\n    ]\n    \n");
    EXPECT_EQ(fake.requests().size(), 1U);  // not retried
}

TEST(Program, ReportsJsonFaultsWithTheirPosition) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", "[] x"), false}});
    const auto result = run_process({inspector_binary(), "--print-url", fake.address()});
    EXPECT_EQ(result.exit_code, 1);
    const std::string head =
        "Error: failed to read inspector targets from http://" + fake.address() +
        "/json\n\nCaused by:\n    0: inspector /json was not valid JSON\n    1: ";
    EXPECT_TRUE(result.err.starts_with(head)) << result.err;
    EXPECT_TRUE(result.err.ends_with(" at line 1 column 4\n")) << result.err;
}

TEST(Program, StackTraceSwitches) {
    struct Case {
        std::optional<std::string> lib;
        std::optional<std::string> general;
        bool trace;
    };
    const std::vector<Case> cases = {
        {std::nullopt, std::nullopt, false},
        {std::nullopt, "1", true},
        {std::nullopt, "0", false},
        {"0", "1", false},
        {"1", "0", true},
        {"", std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lib.value_or("unset") + " / " + c.general.value_or("unset"));
        const auto result = run_process(
            {inspector_binary()},
            {{"QUELBY_INSPECTOR_LIB_BACKTRACE", c.lib}, {"QUELBY_INSPECTOR_BACKTRACE", c.general}});
        EXPECT_EQ(result.exit_code, 1);
        if (c.trace) {
            EXPECT_TRUE(result.err.starts_with(USAGE_REPORT + "\nStack backtrace:\n"))
                << result.err;
            EXPECT_TRUE(result.err.ends_with("\n"));
            EXPECT_FALSE(result.err.ends_with("\n\n"));
        } else {
            EXPECT_EQ(result.err, USAGE_REPORT);
        }
    }
}

TEST(Program, SurvivesArgumentsThatAreNotUtf8) {
    // The bytes become U+FFFD; the address then fails its checks like any other text.
    const auto result = run_process({inspector_binary(), "--print-url", "\xFF\xFE"});
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(
        result.err,
        "Error: failed to read inspector targets from http://\xEF\xBF\xBD\xEF\xBF\xBD/json\n\n"
        "Caused by:\n    0: connect to inspector at \xEF\xBF\xBD\xEF\xBF\xBD\n"
        "    1: invalid socket address\n");
}

}  // namespace
}  // namespace quelby
