// The command line's --target, and the real program on the address forms users paste against a
// real node inspector and Chromium's own inspector (against scripted inspectors they are program
// cases: tests/cases/program).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "quelby/app/launcher.h"
#include "support/child_process.h"
#include "support/node_inspector.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::ChildProcess;
using test_support::find_in_path;
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
