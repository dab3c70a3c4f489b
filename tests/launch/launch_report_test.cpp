// What a node process reports is whatever a process of the user's wrote: only a well-formed line
// with this run's secret counts. And the NODE_OPTIONS built for it must reach node intact.
#include <gtest/gtest.h>

#include <vector>

#include "quelby/launch/launch_report.h"
#include "quelby/launch/node_options.h"
#include "support/child_process.h"
#include "support/temporary_folder.h"

namespace quelby::launch {
namespace {

constexpr std::string_view SECRET = "0123456789abcdef0123456789abcdef";

TEST(LaunchReport, AWellFormedLineGivesThePidTargetAndTitle) {
    const auto report = parse_launch_report(
        R"({"secret":"0123456789abcdef0123456789abcdef","pid":4242,)"
        R"("url":"ws://127.0.0.1:39001/5f1c-aa","title":"node child.js --flag"})",
        SECRET);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->pid, 4242);
    EXPECT_EQ(report->target.address, "127.0.0.1:39001/5f1c-aa");
    EXPECT_FALSE(report->target.secure);
    EXPECT_EQ(report->title, "node child.js --flag");
}

TEST(LaunchReport, AnythingElseIsIgnored) {
    const std::string good_url = R"("url":"ws://127.0.0.1:1/x")";
    for (const std::string& line : std::vector<std::string>{
             std::string(""),
             std::string("not json"),
             std::string("[1,2]"),
             // another run's secret, or none
             R"({"secret":"ffff","pid":1,)" + good_url + "}",
             R"({"pid":1,)" + good_url + "}",
             // pids that are not a process's
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":0,)" + good_url + "}",
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":-5,)" + good_url + "}",
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":"12",)" + good_url + "}",
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":99999999999,)" + good_url + "}",
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":1.5,)" + good_url + "}",
             // addresses that are not a WebSocket's
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":1,"url":"http://a:1/x"})",
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":1,"url":"ws://"})",
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":1,"url":7})",
         }) {
        EXPECT_FALSE(parse_launch_report(line, SECRET)) << line;
    }
}

// A process at its end says so with its pid only; nothing else stands for it.
TEST(LaunchReport, AnEndingProcessIsToldByItsPid) {
    const auto ending = parse_launch_report(
        R"({"secret":"0123456789abcdef0123456789abcdef","pid":31,"exiting":true})", SECRET);
    ASSERT_TRUE(ending);
    EXPECT_TRUE(ending->exiting);
    EXPECT_EQ(ending->pid, 31);
    for (const std::string& line : std::vector<std::string>{
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":31,"exiting":false})",
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":31,"exiting":"yes"})",
             R"({"secret":"ffff","pid":31,"exiting":true})",
             R"({"secret":"0123456789abcdef0123456789abcdef","pid":0,"exiting":true})",
         }) {
        EXPECT_FALSE(parse_launch_report(line, SECRET)) << line;
    }
    const auto report = parse_launch_report(
        R"({"secret":"0123456789abcdef0123456789abcdef","pid":31,"url":"ws://127.0.0.1:2/y"})",
        SECRET);
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->exiting);
}

TEST(LaunchReport, ATitleNeverBreaksTheWindowTitleLine) {
    const auto report = parse_launch_report(
        R"({"secret":"0123456789abcdef0123456789abcdef","pid":7,"url":"ws://127.0.0.1:2/y",)"
        R"("title":"node -e \"a\nb\tc\u001b[31m\""})",
        SECRET);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->title, "node -e \"a b c [31m\"");
    // No title at all is still a report.
    EXPECT_TRUE(parse_launch_report(
        R"({"secret":"0123456789abcdef0123456789abcdef","pid":7,"url":"wss://h:2/y"})", SECRET));
}

TEST(NodeOptions, TheUsersOptionsComeFirstAndThePathStaysOneArgument) {
    EXPECT_EQ(node_options_with_require(std::nullopt, "/tmp/a/boot.js"),
              "--require \"/tmp/a/boot.js\"");
    EXPECT_EQ(node_options_with_require("", "/b.js"), "--require \"/b.js\"");
    EXPECT_EQ(node_options_with_require("--max-old-space-size=64", "/b.js"),
              "--max-old-space-size=64 --require \"/b.js\"");
}

// Node itself reads what we build: a folder with blanks, quotes and backslashes in its name.
TEST(NodeOptions, NodeLoadsTheScriptWhateverItsPathHolds) {
    if (!test_support::find_in_path("node")) {
        GTEST_SKIP() << "node is not installed";
    }
    const test_support::TemporaryFolder folder;
    const std::filesystem::path odd = folder.path() / "a b \"c\" d\\e";
    std::filesystem::create_directories(odd);
    const std::filesystem::path script = odd / "preload.js";
    test_support::write_file(script, "process.stdout.write('preloaded;');\n");
    const auto result = test_support::run_process(
        {"node", "-e", "process.stdout.write('main')"},
        {{"NODE_OPTIONS", node_options_with_require("--no-deprecation", script.string())}});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "preloaded;main");
}

}  // namespace
}  // namespace quelby::launch
