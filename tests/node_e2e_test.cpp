// The real program against a real V8 inspector: node --inspect=127.0.0.1:0.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "support/subprocess.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::BackgroundProcess;
using test_support::find_in_path;
using test_support::inspector_binary;
using test_support::run_process;

TEST(NodeEndToEnd, PrintUrlFindsTheTargetNodeAnnounces) {
    const auto node = find_in_path("node");
    if (!node) {
        GTEST_SKIP() << "node is not installed";
    }
    BackgroundProcess inspector(
        {*node, "--inspect=127.0.0.1:0", "-e", "setInterval(() => {}, 1000)"});
    const auto line = inspector.wait_for_stderr_line("Debugger listening on ws://", 10s);
    ASSERT_TRUE(line.has_value()) << "node did not announce its inspector";
    std::smatch match;
    ASSERT_TRUE(std::regex_search(*line, match, std::regex(R"(ws://((127\.0\.0\.1:\d+)/\S+))")));
    const std::string ws_target = match[1];
    const std::string addr = match[2];

    const auto result = run_process({inspector_binary(), "--print-url", addr});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(
        result.out,
        "quelby_inspector: ws target  = " + ws_target +
            "\nquelby_inspector: devtools   = http://devtools.localhost/js_app.html?ws=" +
            ws_target +
            "&experiments=true&v8only=true\n"
            "quelby_inspector: (frontend is embedded; override with QUELBY_INSPECTOR_FRONTEND)\n");
    // node keeps the connection open after its Content-Length: the run must not wait for the
    // 3-second receive time-out.
    EXPECT_LT(result.elapsed, 2500ms);
}

}  // namespace
}  // namespace quelby
