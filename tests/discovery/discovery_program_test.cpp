// The real program on the address forms users paste and the targets they choose: fakes that count
// requests, a real node inspector, and Chromium's own inspector.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "quelby/app/launcher.h"
#include "quelby/discovery/target_list_fetch.h"
#include "support/child_process.h"
#include "support/fake_inspector.h"
#include "support/node_inspector.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::ChildProcess;
using test_support::FakeAnswer;
using test_support::FakeInspector;
using test_support::find_in_path;
using test_support::http_reply;
using test_support::inspector_binary;
using test_support::NodeInspector;
using test_support::run_process;

std::string three_lines(std::string_view ws, std::string_view key = "ws") {
    std::string out;
    for (const auto& line :
         console_lines(ws, "http://devtools.localhost/js_app.html?" + std::string(key) + "=" +
                               std::string(ws) + "&experiments=true&v8only=true")) {
        out += line + "\n";
    }
    return out;
}

test_support::ProcessResult print_url(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {inspector_binary(), "--print-url"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv);
}

TEST(TargetFlag, TheLastOneCountsAndItsValueIsNoAddress) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(parse_command_line(Args{"--target=2", "a:1"}).target, "2");
    EXPECT_EQ(parse_command_line(Args{"--target=x", "--target=", "a:1"}).target, "");
    EXPECT_EQ(parse_command_line(Args{"--target=a b=c"}).target, "a b=c");
    EXPECT_EQ(parse_command_line(Args{"--target", "--targets=1", "a:1"}).target, std::nullopt);
    EXPECT_EQ(parse_command_line(Args{"--target=1", "a:1"}).inspector_addr, "a:1");
}

TEST(AddressForms, AddressesThatCanNeverWorkAreReportedAtOnce) {
    struct Case {
        std::string address;
        std::string innermost;
    };
    const std::vector<Case> cases = {
        {"-h", "invalid socket address"},          {"9229", "invalid socket address"},
        {"127.0.0.1", "invalid socket address"},   {"localhost", "invalid socket address"},
        {"127.0.0.1:70000", "invalid port value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const auto result = print_url({c.address});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "");
        // The report as before, without the 5 s of retries.
        EXPECT_EQ(result.err, "Error: failed to read inspector targets from http://" + c.address +
                                  "/json\n\nCaused by:\n    0: connect to inspector at " +
                                  c.address + "\n    1: " + c.innermost + "\n");
        EXPECT_LT(result.elapsed, 1000ms);
    }
    const auto ws = print_url({"ws://127.0.0.1:70000/x"});
    EXPECT_EQ(ws.exit_code, 1);
    EXPECT_EQ(ws.err,
              "Error: invalid WebSocket address ws://127.0.0.1:70000/x\n\nCaused by:\n    invalid "
              "port value\n");
}

TEST(AddressForms, AWebSocketAddressAttachesWithoutAnyRequest) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", "[]")}});
    const std::string target = fake.address() + "/0f2c5e4a";
    struct Case {
        std::string argument;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {"ws://" + target, three_lines(target)},
        {target, three_lines(target)},
        {"wss://" + target, three_lines(target, "wss")},
        {"ws://127.0.0.1:+" + std::to_string(fake.port()) + "/0f2c5e4a", three_lines(target)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        const auto result = print_url({c.argument, "--target=ignored"});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out, c.printed);
    }
    EXPECT_TRUE(fake.requests().empty());
    // http:// is the listener, whatever path follows.
    const auto listener = print_url({"http://" + fake.address() + "/json/list"});
    EXPECT_EQ(listener.exit_code, 1);
    EXPECT_NE(listener.err.find("no webSocketDebuggerUrl in inspector /json: []"),
              std::string::npos);
    EXPECT_EQ(fake.requests().size(), 1U);
}

constexpr std::string_view THREE_TARGETS = R"([
  {"id": "a1", "type": "node", "title": "main.js", "url": "file:///srv/main.js",
   "webSocketDebuggerUrl": "ws://127.0.0.1:9229/a1"},
  {"id": "b2", "type": "worker", "title": "resize worker", "url": "file:///srv/resize.js",
   "webSocketDebuggerUrl": "ws://127.0.0.1:9229/b2"},
  {"id": "c3", "type": "node", "title": "tests", "url": "file:///srv/tests/run.js",
   "webSocketDebuggerUrl": "ws://127.0.0.1:9229/c3"}
])";

TEST(TargetFlag, ChoosesByIndexIdOrTextAndListsTheTargetsWhenNoneMatches) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", THREE_TARGETS), false}});
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "127.0.0.1:9229/a1"},
        {{"--target=1"}, "127.0.0.1:9229/b2"},
        {{"--target=c3"}, "127.0.0.1:9229/c3"},
        {{"--target=Resize"}, "127.0.0.1:9229/b2"},
        {{"--target=tests/run"}, "127.0.0.1:9229/c3"},
    };
    for (const auto& [flags, target] : cases) {
        SCOPED_TRACE(::testing::PrintToString(flags));
        std::vector<std::string> args = flags;
        args.push_back(fake.address());
        const auto result = print_url(args);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out, three_lines(target));
    }
    const auto none = print_url({"--target=7", fake.address()});
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(
        none.err,
        "Error: failed to read inspector targets from http://" + fake.address() +
            "/json\n\nCaused by:\n"
            "    no target matches \"7\"; the inspector lists these:\n"
            "    0: id \"a1\", type \"node\", title \"main.js\", url \"file:///srv/main.js\"\n"
            "    1: id \"b2\", type \"worker\", title \"resize worker\", url "
            "\"file:///srv/resize.js\"\n"
            "    2: id \"c3\", type \"node\", title \"tests\", url "
            "\"file:///srv/tests/run.js\"\n");
    EXPECT_EQ(fake.requests().size(), cases.size() + 1);  // no retries after a good answer
}

TEST(HelpfulCauses, A400ForANameIsAnsweredWithTheNumericAddress) {
    // A V8 inspector's DNS-rebinding defence, as node has it: 400 unless the Host is numeric.
    FakeInspector fake([](const std::string& request) {
        const std::string host = test_support::host_of(request);
        const bool numeric =
            !host.empty() && (host[0] == '[' || (host[0] >= '0' && host[0] <= '9'));
        return numeric ? FakeAnswer{http_reply("HTTP/1.0 200 OK", THREE_TARGETS)}
                       : FakeAnswer{http_reply("HTTP/1.0 400 Bad Request", "")};
    });
    const auto result = print_url({"localhost:" + std::to_string(fake.port())});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, three_lines("127.0.0.1:9229/a1"));
    ASSERT_EQ(fake.requests().size(), 2U);
    EXPECT_EQ(test_support::host_of(fake.requests()[1]), fake.address());
}

TEST(RealNode, AttachesToWhatItPrintsAndToEveryFormOfItsAddress) {
    if (!NodeInspector::available()) {
        GTEST_SKIP() << "node is not installed";
    }
    NodeInspector node(NodeInspector::idle());
    const std::vector<std::string> forms = {
        "ws://" + node.ws_target(),
        node.ws_target(),
        "http://127.0.0.1:" + node.port() + "/json",
        // The Host header carries the port as a number: node echoes it into the target.
        "127.0.0.1:+" + node.port(),
        // node refuses Host 0.0.0.0 with 400; the numeric address connected to is accepted.
        "0.0.0.0:" + node.port(),
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form);
        const auto result = print_url({form});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out, three_lines(node.ws_target()));
        EXPECT_LT(result.elapsed, 2500ms);
    }
}

TEST(RealChromium, PrintUrlFindsAPageTarget) {
    const auto chromium = find_in_path("chromium");
    if (!chromium) {
        GTEST_SKIP() << "chromium is not installed (scripts/install_dependencies.sh)";
    }
    const auto profile = std::filesystem::temp_directory_path() /
                         ("quelby-discovery-chromium-" + std::to_string(::getpid()));
    {
        ChildProcess browser(
            {*chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile.string(), "--remote-debugging-port=0", "about:blank"});
        const auto line = browser.read_err_line_containing("DevTools listening on ws://", 30s);
        std::smatch match;
        ASSERT_TRUE(line &&
                    std::regex_search(*line, match, std::regex(R"(ws://(127\.0\.0\.1:\d+)/)")))
            << "chromium did not announce its inspector";
        const std::string address = match[1];
        // Chromium closes the connection on an HTTP/1.0 request: the attempt is made again in 1.1.
        const auto result = print_url({address});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_TRUE(
            std::regex_search(result.out, std::regex("^quelby_inspector: ws target  = " + address +
                                                     "/devtools/page/[0-9A-F]+\n")))
            << result.out;
        const auto blank = print_url({"--target=about:blank", address});
        EXPECT_EQ(blank.exit_code, 0) << blank.err;
    }
    std::error_code ignored;
    std::filesystem::remove_all(profile, ignored);
}

}  // namespace
}  // namespace quelby
