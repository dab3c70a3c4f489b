// The launcher: the command line as a unit, and the real program run as a child process.
#include "quelby/app/launcher.h"
#include "quelby/window/page_diagnostics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "quelby/assets/asset_table.h"
#include "quelby/webview_host/host.h"

#include "support/child_process.h"
#include "support/fake_inspector.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::FakeAnswer;
using test_support::FakeInspector;
using test_support::http_reply;
using test_support::inspector_binary;
using test_support::run_process;

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
        {{"---print-url"}, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_EQ(parse_command_line(c.args), (CommandLine{c.print_url, c.addr}));
    }
}

// What follows "--" is the command's, even words that look like the program's own flags.
TEST(CommandLine, EverythingAfterTheSeparatorIsTheCommand) {
    const std::vector<std::string> arguments{"--print-url", "--",      "node",        "--help",
                                             "app.js",      "--serve", "127.0.0.1:1", "--"};
    const CommandLine parsed = parse_command_line(arguments);
    EXPECT_TRUE(parsed.print_url);
    EXPECT_FALSE(parsed.help);
    EXPECT_FALSE(parsed.inspector_addr);
    ASSERT_TRUE(parsed.command);
    EXPECT_EQ(*parsed.command, (std::vector<std::string>{"node", "--help", "app.js", "--serve",
                                                         "127.0.0.1:1", "--"}));
    EXPECT_FALSE(serve_address(own_arguments(arguments)));
    // Not an address after it either: the command is "x".
    const CommandLine command_only = parse_command_line(std::vector<std::string>{"--", "x"});
    EXPECT_FALSE(command_only.inspector_addr);
    EXPECT_EQ(command_only.command, std::vector<std::string>{"x"});
    // Without the separator there is no command; with nothing after it, an empty one.
    EXPECT_FALSE(parse_command_line(std::vector<std::string>{"127.0.0.1:1"}).command);
    const auto empty = parse_command_line(std::vector<std::string>{"--"}).command;
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(CommandLine, HelpAndVersionAreExactDoubleDashFlags) {
    struct Case {
        std::vector<std::string> args;
        bool help;
        bool version;
        std::optional<std::string> addr;
    };
    const std::vector<Case> cases = {
        {{"--help"}, true, false, std::nullopt},
        {{"--version"}, false, true, std::nullopt},
        {{"a:1", "--version", "--help"}, true, true, "a:1"},
        // Single-dash forms are not flags: they are the address, as any other such argument.
        {{"-h"}, false, false, "-h"},
        {{"-V", "--help"}, true, false, "-V"},
        {{"--Help", "--help=1", "--versions"}, false, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const CommandLine parsed = parse_command_line(c.args);
        EXPECT_EQ(parsed.help, c.help);
        EXPECT_EQ(parsed.version, c.version);
        EXPECT_EQ(parsed.inspector_addr, c.addr);
        EXPECT_FALSE(parsed.print_url);
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
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"--print-url"}, {"--a", "--b"}, {"--HELP", "--help=yes", "--Version"}}) {
        std::vector<std::string> argv = {inspector_binary()};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = run_process(argv);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, USAGE_REPORT);
    }
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_EQ(start, text.size()) << "text does not end with a line feed";
    return lines;
}

TEST(Program, HelpNamesEveryFlagAndVariableWithStatusZero) {
    const auto result = run_process({inspector_binary(), "--help"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    const auto lines = lines_of(result.out);
    ASSERT_GE(lines.size(), 3U);
    // The report's usage line, capitalised as help2man expects it, and the second form.
    EXPECT_EQ("u" + lines[0].substr(1), USAGE);
    EXPECT_EQ(lines[1], "  or:  quelby_inspector --help | --version");
    EXPECT_EQ(lines[2], "  or:  quelby_inspector --serve[=ADDR] <inspector-http-addr>");
    for (const std::string_view needle : {PRINT_URL_FLAG, HELP_FLAG, VERSION_FLAG, TARGET_FLAG,
                                          std::string_view("QUELBY_INSPECTOR_FRONTEND"),
                                          std::string_view("QUELBY_INSPECTOR_LIB_BACKTRACE"),
                                          std::string_view("QUELBY_INSPECTOR_BACKTRACE"),
                                          PAGE_DIAGNOSTICS_ENV, std::string_view("--serve")}) {
        // Each flag and variable has a line of its own that starts with it (the man page's
        // option list is built from those lines).
        EXPECT_TRUE(std::ranges::any_of(lines, [&](const std::string& line) {
            return line.starts_with("  " + std::string(needle));
        })) << needle;
    }
    for (const auto& line : lines) {
        EXPECT_LE(line.size(), 100U) << line;
    }
}

TEST(Program, VersionNamesTheReleaseTheFrontEndAndTheBackend) {
    // LD_DEBUG makes the dynamic loader list every library it opens: --version must open no GUI
    // library, since it has to work where they are not installed.
    const auto result = run_process({inspector_binary(), "--version"}, {{"LD_DEBUG", "files"}});
    EXPECT_EQ(result.exit_code, 0);
    ASSERT_NE(result.err.find("libc.so.6"), std::string::npos) << "no loader listing";
    EXPECT_EQ(result.err.find("libgtk"), std::string::npos);
    EXPECT_EQ(result.err.find("libwebkit2gtk"), std::string::npos);
    EXPECT_EQ(result.out, "quelby_inspector " QUELBY_EXPECTED_VERSION
                          "\n\nBuilt with:\n"
                          "  front end  " QUELBY_EXPECTED_FRONTEND_ORIGIN " (" +
                              std::to_string(AssetTable::entries().size()) +
                              " files embedded)\n  web view   " +
                              std::string(webview_host::backend_name()) + "\n");
}

TEST(Program, HelpAndVersionAnswerWithoutTryingTheAddress) {
    // A refusing address would cost the 5 s of retries if it were tried.
    test_support::RefusingPort refusing;
    for (const auto& flag : {HELP_FLAG, VERSION_FLAG}) {
        const auto result =
            run_process({inspector_binary(), refusing.address(), std::string(flag), "--print-url"});
        EXPECT_EQ(result.exit_code, 0) << flag;
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(result.out.starts_with(flag == HELP_FLAG ? "Usage: " : "quelby_inspector "));
        EXPECT_LT(result.elapsed, 2000ms);
    }
    const auto both = run_process({inspector_binary(), "--version", "--help"});
    EXPECT_EQ(both.exit_code, 0);
    EXPECT_TRUE(both.out.starts_with("Usage: ")) << both.out;
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
    test_support::RefusingPort refusing;
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
