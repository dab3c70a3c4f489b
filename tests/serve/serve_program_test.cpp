// The real program with --serve: its command line, console lines and signals against a fake
// inspector, and headless Chromium opening the printed URL against node's inspector.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>

#include "quelby/app/launcher.h"
#include "quelby/assets/asset_table.h"
#include "quelby/core/byte_text.h"
#include "support/child_process.h"
#include "support/fake_inspector.h"
#include "support/http_client.h"
#include "support/node_inspector.h"
#include "support/temporary_folder.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::ChildProcess;
using test_support::Clock;
using test_support::FakeAnswer;
using test_support::FakeInspector;
using test_support::find_in_path;
using test_support::http_request;
using test_support::HttpConnection;
using test_support::inspector_binary;
using test_support::NodeInspector;
using test_support::run_process;

constexpr std::string_view FAKE_TARGET = "127.0.0.1:4000/fake-target";
constexpr std::string_view NOTE_LINE =
    "quelby_inspector: (frontend is embedded; override with QUELBY_INSPECTOR_FRONTEND)";

TEST(ServeAddress, ComesFromTheLastServeFlag) {
    using Args = std::vector<std::string>;
    const std::pair<Args, std::optional<std::string>> cases[] = {
        {{"127.0.0.1:9229"}, std::nullopt},
        {{"--serve", "127.0.0.1:9229"}, "127.0.0.1:0"},
        {{"127.0.0.1:9229", "--serve"}, "127.0.0.1:0"},
        {{"--serve=[::1]:9230", "127.0.0.1:9229"}, "[::1]:9230"},
        {{"--serve=", "x"}, ""},
        {{"--serve=127.0.0.1:1", "--serve"}, "127.0.0.1:0"},
        {{"--serve", "--serve=127.0.0.1:2"}, "127.0.0.1:2"},
        {{"--served", "--serve-x=1", "--SERVE", "-serve", "serve"}, std::nullopt},
    };
    for (const auto& [arguments, address] : cases) {
        EXPECT_EQ(serve_address(arguments), address) << ::testing::PrintToString(arguments);
    }
    // The inspector address is still the first argument not beginning with "--".
    EXPECT_EQ(parse_command_line(Args{"--serve=127.0.0.1:5", "127.0.0.1:9229"}).inspector_addr,
              "127.0.0.1:9229");
}

std::string fake_list() {
    return test_support::http_reply("HTTP/1.0 200 OK", R"([{"webSocketDebuggerUrl": "ws://)" +
                                                           std::string(FAKE_TARGET) + R"("}])");
}

std::uint16_t port_of(const std::string& url) {
    std::smatch match;
    if (!std::regex_search(url, match, std::regex(R"(^http://(?:127\.0\.0\.1|\[::1\]):(\d+)/)"))) {
        return 0;
    }
    return static_cast<std::uint16_t>(std::stoi(match[1]));
}

// Binds 127.0.0.1:port as a new server would, without address reuse.
bool port_is_free(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Starts the program with --serve arguments against the fake inspector and reads its three lines.
struct ServedProgram {
    std::unique_ptr<ChildProcess> program;
    std::vector<std::string> lines;
    std::string url;
    std::uint16_t port = 0;
};

ServedProgram start_serving(const FakeInspector& fake, const std::vector<std::string>& flags,
                            const std::vector<test_support::EnvChange>& env = {}) {
    std::vector<std::string> argv = {inspector_binary()};
    argv.insert(argv.end(), flags.begin(), flags.end());
    argv.push_back(fake.address());
    ServedProgram served{std::make_unique<ChildProcess>(argv, env), {}, {}, 0};
    for (int i = 0; i < 3; ++i) {
        auto line = served.program->read_line(10s);
        if (!line) {
            break;
        }
        served.lines.push_back(*line);
    }
    if (served.lines.size() == 3) {
        const std::string prefix(LINE_FRONTEND);
        if (served.lines[1].starts_with(prefix)) {
            served.url = served.lines[1].substr(prefix.size());
            served.port = port_of(served.url);
        }
    }
    return served;
}

class ServeSignal : public ::testing::TestWithParam<int> {};

TEST_P(ServeSignal, PrintsTheServedUrlServesUntilTheSignalThenExitsZeroAndFreesThePort) {
    FakeInspector fake({FakeAnswer{fake_list()}});
    // The front-end template is for the window; the served URL is printed all the same.
    ServedProgram served =
        start_serving(fake, {"--serve"}, {{"QUELBY_INSPECTOR_FRONTEND", "http://x/{ws}"}});
    ASSERT_EQ(served.lines.size(), 3U) << "the lines must arrive while the program runs";
    EXPECT_EQ(served.lines[0], std::string(LINE_WS_TARGET) + std::string(FAKE_TARGET));
    ASSERT_NE(served.port, 0) << served.lines[1];
    // The start page that loads the embedder first, with the run's secret (128 bits).
    const std::string origin = "http://127.0.0.1:" + std::to_string(served.port);
    EXPECT_TRUE(std::regex_match(
        served.url, std::regex(origin + "/inspector\\.html\\?ws=" + std::string(FAKE_TARGET) +
                               "&experiments=true&v8only=true"
                               "&host=[0-9a-f]{32}")))
        << served.url;
    EXPECT_EQ(served.lines[2], NOTE_LINE);

    // The front end's own page with the embedder's script before its first script; the embedded
    // js_app.html is still served byte for byte at its own path.
    const AssetEntry* front_end_page = AssetTable::lookup("js_app.html");
    ASSERT_NE(front_end_page, nullptr);
    const std::string js_app(as_text(front_end_page->bytes));
    const std::string start_target = served.url.substr(origin.size());
    const auto page = http_request(served.port, "GET", start_target);
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->status, 200);
    const std::string tag = R"(<script src="/quelby-host/frontend_host.js"></script>)";
    const std::size_t at = page->body.find(tag);
    ASSERT_NE(at, std::string::npos) << page->body;
    EXPECT_EQ(at, js_app.find("<script"));
    EXPECT_EQ(std::string(page->body).erase(at, tag.size()), js_app);
    const auto own = http_request(served.port, "GET", "/js_app.html");
    ASSERT_TRUE(own.has_value());
    EXPECT_EQ(own->body, js_app);
    const auto root = http_request(served.port, "GET", "/");
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->status, 302);
    EXPECT_EQ(root->header("Location"), start_target);

    served.program->send_signal(GetParam());
    ASSERT_EQ(served.program->wait_exit(Clock::now() + 5s), std::optional<int>(0))
        << "still running after the signal, or not a clean exit";
    EXPECT_EQ(served.program->err(), "");
    // Nothing after the three lines.
    EXPECT_EQ(served.program->out(),
              served.lines[0] + "\n" + served.lines[1] + "\n" + served.lines[2] + "\n");
    EXPECT_TRUE(port_is_free(served.port));
    EXPECT_FALSE(HttpConnection(served.port).connected());
}

// Local files reach the served front end only through requests that carry the run's secret:
// without it, any local user or process could read the user's files through the server.
TEST(ServeLocalFiles, AreServedOnlyWithTheRunsSecret) {
    FakeInspector fake({FakeAnswer{fake_list()}});
    ServedProgram served = start_serving(fake, {"--serve"});
    ASSERT_NE(served.port, 0) << served.lines.size();
    const std::string secret = served.url.substr(served.url.rfind('=') + 1);
    ASSERT_EQ(secret.size(), 32U) << served.url;

    const test_support::TemporaryFolder temporary;
    const std::filesystem::path& folder = temporary.path();
    const std::filesystem::path map = folder / "app js.map";
    std::ofstream(map) << R"({"version":3,"sources":["app.ts"],"mappings":"AAAA"})";
    const std::string url = "file://" + (folder / "app%20js.map").string();
    const auto request = [&](const std::string& query) {
        return http_request(served.port, "GET", "/quelby-host/file?" + query);
    };

    for (const std::string& query :
         {"url=" + url, "host=&url=" + url, "host=" + std::string(32, '0') + "&url=" + url,
          "host=" + secret.substr(1) + "&url=" + url}) {
        SCOPED_TRACE(query);
        const auto refused = request(query);
        ASSERT_TRUE(refused.has_value());
        EXPECT_EQ(refused->status, 403);
        EXPECT_EQ(refused->body.find("mappings"), std::string::npos);
    }

    const auto map_reply = request("host=" + secret + "&url=" + url);
    ASSERT_TRUE(map_reply.has_value());
    EXPECT_EQ(map_reply->status, 200);
    EXPECT_EQ(map_reply->body, R"({"version":3,"sources":["app.ts"],"mappings":"AAAA"})");

    const auto missing =
        request("host=" + secret + "&url=file://" + (folder / "none.map").string());
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->status, 404);
    EXPECT_EQ(missing->header("X-Net-Error"),
              std::optional<std::string>("-6 net::ERR_FILE_NOT_FOUND"));

    // Only files: the server is no proxy for the page.
    const auto web = request("host=" + secret + "&url=http://127.0.0.1:1/x");
    ASSERT_TRUE(web.has_value());
    EXPECT_EQ(web->status, 400);
}

INSTANTIATE_TEST_SUITE_P(InterruptAndTerminate, ServeSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& param_info) {
                             return param_info.param == SIGINT ? std::string("SIGINT")
                                                               : std::string("SIGTERM");
                         });

TEST(Serve, AnInterruptAsSoonAsTheFirstLineIsOutStillEndsWithStatusZero) {
    FakeInspector fake({FakeAnswer{fake_list()}});
    for (int i = 0; i < 5; ++i) {
        ChildProcess program({inspector_binary(), "--serve", fake.address()});
        ASSERT_TRUE(program.read_line(10s).has_value());
        program.send_signal(SIGINT);
        EXPECT_EQ(program.wait_exit(Clock::now() + 5s), std::optional<int>(0));
    }
}

TEST(Serve, AnExplicitPortCanBeTakenAgainAtOnceAfterAnInterruptWithOpenConnections) {
    FakeInspector fake({FakeAnswer{fake_list()}});
    ServedProgram first = start_serving(fake, {"--serve"});
    ASSERT_NE(first.port, 0);
    const std::string explicit_address = "--serve=127.0.0.1:" + std::to_string(first.port);
    first.program->send_signal(SIGINT);
    ASSERT_TRUE(first.program->wait_exit(Clock::now() + 5s).has_value());

    ServedProgram second = start_serving(fake, {explicit_address});
    ASSERT_EQ(second.port, first.port) << (second.lines.empty() ? "" : second.lines[1]);
    // A kept-alive connection is open when the signal comes: the server closes it first.
    HttpConnection open(second.port);
    ASSERT_TRUE(open.send("GET /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    ASSERT_TRUE(open.read_reply().has_value());
    second.program->send_signal(SIGINT);
    EXPECT_EQ(second.program->wait_exit(Clock::now() + 5s), std::optional<int>(0));

    ServedProgram third = start_serving(fake, {explicit_address});
    EXPECT_EQ(third.port, first.port) << (third.lines.empty() ? "" : third.lines[1]);
}

TEST(Serve, RootFollowsTheDebuggeeToItsNewTargetAndSaysSoUnlessToldNotTo) {
    // The inspector lists one target at the start and another ever after, as a debuggee that
    // restarted does.
    const std::string restarted = "127.0.0.1:4000/after-restart";
    for (const bool reattach : {true, false}) {
        SCOPED_TRACE(reattach ? "default" : "--no-reattach");
        std::atomic<int> asked{0};
        FakeInspector fake([&](const std::string&) {
            const std::string target = ++asked == 1 ? std::string(FAKE_TARGET) : restarted;
            return FakeAnswer{test_support::http_reply(
                "HTTP/1.0 200 OK", R"([{"webSocketDebuggerUrl": "ws://)" + target + R"("}])")};
        });
        ServedProgram served =
            start_serving(fake, reattach ? std::vector<std::string>{"--serve"}
                                         : std::vector<std::string>{"--serve", "--no-reattach"});
        ASSERT_NE(served.port, 0);
        for (int i = 0; i < 2; ++i) {
            const auto root = http_request(served.port, "GET", "/");
            ASSERT_TRUE(root.has_value());
            EXPECT_EQ(root->status, 302);
            EXPECT_TRUE(std::regex_match(
                root->header("Location").value_or(""),
                std::regex(
                    "/inspector\\.html\\?ws=" + (reattach ? restarted : std::string(FAKE_TARGET)) +
                    "&experiments=true&v8only=true&host=[0-9a-f]{32}")))
                << root->header("Location").value_or("(none)");
        }
        EXPECT_EQ(asked.load(), reattach ? 3 : 1);
        served.program->send_signal(SIGINT);
        ASSERT_EQ(served.program->wait_exit(Clock::now() + 5s), std::optional<int>(0));
        // One more line when the target changed, as the window writes.
        std::string expected =
            served.lines[0] + "\n" + served.lines[1] + "\n" + served.lines[2] + "\n";
        if (reattach) {
            expected += std::string(LINE_WS_TARGET) + restarted + "\n";
        }
        EXPECT_EQ(served.program->out(), expected);
    }
}

// "0" is the unspecified address to the resolver, as "0.0.0.0" is: the printed URL is the
// loopback one in both cases, which a browser here can open.
TEST(Serve, TheAnyAddressInShortFormPrintsTheLoopbackUrl) {
    FakeInspector fake({FakeAnswer{fake_list()}});
    for (const std::string_view flag : {"--serve=0.0.0.0:0", "--serve=0:0"}) {
        SCOPED_TRACE(flag);
        ServedProgram served = start_serving(fake, {std::string(flag)});
        ASSERT_EQ(served.lines.size(), 3U);
        ASSERT_TRUE(served.url.starts_with("http://127.0.0.1:")) << served.url;
        ASSERT_NE(served.port, 0) << served.url;
        const auto page =
            http_request(served.port, "GET", served.url.substr(served.url.find('/', 7)));
        ASSERT_TRUE(page.has_value());
        EXPECT_EQ(page->status, 200);
        served.program->send_signal(SIGINT);
        EXPECT_EQ(served.program->wait_exit(Clock::now() + 5s), std::optional<int>(0));
    }
}

TEST(Serve, AnAddressItCannotServeOnIsReportedAfterDiscovery) {
    FakeInspector fake({FakeAnswer{fake_list()}});
    const auto result = run_process({inspector_binary(), "--serve=nonsense", fake.address()});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "Error: failed to serve the front end on nonsense\n\nCaused by:\n    invalid socket "
              "address\n");
    EXPECT_EQ(fake.requests().size(), 1U);
}

// Headless Chromium opens the printed URL; node reports the front end's connection.
TEST(ServeEndToEnd, HeadlessChromiumOpensThePrintedUrlAndAttachesToNode) {
    const auto chromium = find_in_path("chromium");
    if (!NodeInspector::available()) {
        GTEST_SKIP() << "node is not installed";
    }
    if (!chromium) {
        GTEST_SKIP() << "chromium is not installed (scripts/install_dependencies.sh)";
    }
    NodeInspector node(NodeInspector::idle());
    const std::string& ws_target = node.ws_target();

    ChildProcess program({inspector_binary(), "--serve", node.address()});
    std::vector<std::string> lines;
    for (int i = 0; i < 3; ++i) {
        if (auto line = program.read_line(10s)) {
            lines.push_back(*line);
        }
    }
    ASSERT_EQ(lines.size(), 3U);
    const std::string url = lines[1].substr(LINE_FRONTEND.size());
    EXPECT_NE(port_of(url), 0) << url;
    EXPECT_NE(url.find("?ws=" + ws_target + "&"), std::string::npos) << url;

    const std::filesystem::path home = std::filesystem::temp_directory_path() /
                                       ("quelby-serve-chromium-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    const std::filesystem::path screenshot =
        std::filesystem::path(QUELBY_SCREENSHOT_DIR) / "serve-chromium.png";
    std::filesystem::remove(screenshot);
    // The virtual-time budget keeps the page open (time stands still while it loads) until the
    // front end has attached and drawn, then Chromium takes the screenshot and exits.
    const auto browser =
        run_process({*chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + (home / "profile").string(), "--window-size=1280,800",
                     "--virtual-time-budget=5000", "--screenshot=" + screenshot.string(), url},
                    {{"HOME", home.string()}});
    const bool attached = node.wait_attached(20s);
    std::filesystem::remove_all(home);
    EXPECT_EQ(browser.exit_code, 0) << browser.err.substr(0, 2000);
    ASSERT_TRUE(attached) << "node never saw the front end; chromium said:\n"
                          << browser.err.substr(0, 2000);
    ASSERT_TRUE(std::filesystem::exists(screenshot));
    EXPECT_GT(std::filesystem::file_size(screenshot), 5000U);

    program.send_signal(SIGINT);
    EXPECT_EQ(program.wait_exit(Clock::now() + 5s), std::optional<int>(0));
}

}  // namespace
}  // namespace quelby
