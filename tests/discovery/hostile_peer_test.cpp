// The real program against hostile peers on loopback: every run ends within a stated bound, and
// nothing the peer sends reaches the terminal raw.
#include <gtest/gtest.h>

#include "quelby/app/launcher.h"
#include "quelby/assets/frontend_url.h"
#include "quelby/core/quoted_text.h"
#include "quelby/core/utf8.h"
#include "quelby/discovery/discovery.h"
#include "quelby/discovery/target_list_fetch.h"
#include "support/child_process.h"
#include "support/fake_inspector.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::FakeInspector;
using test_support::http_reply;
using test_support::inspector_binary;
using test_support::run_process;

constexpr std::string_view LIST = R"([{"webSocketDebuggerUrl":"ws://127.0.0.1:9229/abc"}])";

std::string context(const FakeInspector& fake) {
    return "Error: failed to read inspector targets from http://" + fake.address() +
           "/json\n\nCaused by:\n    ";
}

// True when `text` holds a byte that steers a terminal (C0 but LF, DEL, or a C1 character).
bool has_raw_control(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F ||
            (byte == 0xC2 && i + 1 < text.size() &&
             static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
            return true;
        }
    }
    return false;
}

TEST(HostilePeer, ATrickleEndsTheRunAtTheDeadlinePlusOneReceiveTimeout) {
    // One byte every 100 ms forever: each receive succeeds, so only the attempt's own bound ends
    // it, 5 s + 3 s after the start.
    FakeInspector fake({{"HTTP/1.0 200 OK\r\n", false, true, 100ms, /*trickle_forever=*/true}});
    const auto result = run_process({inspector_binary(), "--print-url", fake.address()});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, context(fake) + std::string(ATTEMPT_OVERTIME) + "\n");
    EXPECT_GE(result.elapsed, 7950ms);
    EXPECT_LT(result.elapsed, 9000ms);
}

TEST(HostilePeer, AListenerThatNeverAcceptsEndsTheRunAtTheDeadline) {
    test_support::StuckListener stuck;
    const auto result = run_process({inspector_binary(), "--print-url", stuck.address()});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: failed to read inspector targets from http://" + stuck.address() +
                              "/json\n\nCaused by:\n    0: connect to inspector at " +
                              stuck.address() + "\n    1: Connection timed out (os error 110)\n");
    EXPECT_GE(result.elapsed, 4950ms);
    EXPECT_LT(result.elapsed, 6000ms);
}

TEST(HostilePeer, RefusesATargetWithControlCharacters) {
    struct Case {
        std::string json_value;  // as written in the JSON text
        std::string reported;    // the report's line
    };
    const std::vector<Case> cases = {
        {R"(ws://127.0.0.1:9229/x\nquelby_inspector: devtools   = http://evil.example/)",
         "control character U+000A at byte 21 and cannot be a WebSocket address: "
         "ws://127.0.0.1:9229/x<U+000A>quelby_inspector: devtools   = http://evil.example/"},
        {R"(ws://h/\u001b]0;pwned\u0007\u001b[2J)",
         "control character U+001B at byte 7 and cannot be a WebSocket address: "
         "ws://h/<U+001B>]0;pwned<U+0007><U+001B>[2J"},
        {R"(ws://h/\u0000)",
         "control character U+0000 at byte 7 and cannot be a WebSocket address: ws://h/<U+0000>"},
        {R"(ws://h/\u007f)",
         "control character U+007F at byte 7 and cannot be a WebSocket address: ws://h/<U+007F>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json_value);
        FakeInspector fake({{http_reply("HTTP/1.0 200 OK",
                                        R"([{"webSocketDebuggerUrl":")" + c.json_value + "\"}]"),
                             false}});
        const auto result = run_process({inspector_binary(), "--print-url", fake.address()});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, context(fake) +
                                  "webSocketDebuggerUrl in inspector /json contains the " +
                                  c.reported + "\n");
        EXPECT_EQ(fake.requests().size(), 1U);  // not retried
    }
}

TEST(HostilePeer, QuotesPeerTextEscapedAndCapped) {
    // (A status line's control characters: http_reply_test, since a non-200 reply is retried
    // until the deadline.)
    // A 15 MiB body without the key: 64 KiB of it are quoted.
    {
        const std::string body = "[" + std::string(15 * 1024 * 1024, ' ') + "]";
        FakeInspector fake({{http_reply("HTTP/1.0 200 OK", body), false}});
        const auto result = run_process({inspector_binary(), "--print-url", fake.address()});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_LT(result.err.size(), QUOTE_LIMIT + 1024);
        EXPECT_TRUE(result.err.ends_with("\xE2\x80\xA6 (" + std::to_string(body.size()) +
                                         " bytes in all)\n"))
            << result.err.substr(result.err.size() - 100);
    }
    // The parser's excerpt of a body cut inside a character is made whole (U+FFFD).
    {
        FakeInspector fake({{http_reply("HTTP/1.0 200 OK", "[tru\xC3\xA9]"), false}});
        const auto result = run_process({inspector_binary(), "--print-url", fake.address()});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_TRUE(is_valid_utf8(result.err)) << result.err;
        EXPECT_NE(result.err.find("tru\xEF\xBF\xBD"), std::string::npos) << result.err;
    }
    // A body with raw control characters (not JSON either): the excerpt is escaped too.
    {
        FakeInspector fake({{http_reply("HTTP/1.0 200 OK", "\x1B]0;pwned\a"), false}});
        const auto result = run_process({inspector_binary(), "--print-url", fake.address()});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_FALSE(has_raw_control(result.err)) << result.err;
    }
}

TEST(HostilePeer, PrintUrlFailsWhenItsLinesCannotBeWritten) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST), false}});
    for (const auto mode :
         {test_support::StdoutMode::ClosedPipe, test_support::StdoutMode::Closed}) {
        const auto result =
            run_process({inspector_binary(), "--print-url", fake.address()}, {}, mode);
        EXPECT_EQ(result.term_signal, 0) << "killed by signal " << result.term_signal;
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.err, "Error: " + std::string(OUTPUT_FAILED) + "\n");
        EXPECT_LT(result.elapsed, 2000ms);
    }
}

TEST(HostilePeer, AHugeFrontEndUrlIsRefusedBeforeItIsBuilt) {
    // 30,000 placeholders times a 1 MB target would be 30 GB.
    const std::string target = "ws://h/" + std::string(1000 * 1000, 'a');
    FakeInspector fake(
        {{http_reply("HTTP/1.0 200 OK", R"([{"webSocketDebuggerUrl":")" + target + "\"}]"),
          false}});
    std::string frontend;
    for (int i = 0; i < 30000; ++i) {
        frontend += "{ws}";
    }
    const auto result = run_process({inspector_binary(), "--print-url", fake.address()},
                                    {{"QUELBY_INSPECTOR_FRONTEND", frontend}});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: " + frontend_url_too_long_message(30000ULL * 1000002) +
                              " (QUELBY_INSPECTOR_FRONTEND has 30000 \"{ws}\" and the ws target "
                              "is 1000002 bytes)\n");
    EXPECT_LT(result.elapsed, 3000ms);
}

}  // namespace
}  // namespace quelby
