// The real program against a real V8 inspector: node --inspect=127.0.0.1:0.
#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/node_inspector.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::inspector_binary;
using test_support::NodeInspector;
using test_support::run_process;

TEST(NodeEndToEnd, PrintUrlFindsTheTargetNodeAnnounces) {
    if (!NodeInspector::available()) {
        GTEST_SKIP() << "node is not installed";
    }
    NodeInspector node(NodeInspector::idle());
    const std::string& ws_target = node.ws_target();
    const std::string& addr = node.address();

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
