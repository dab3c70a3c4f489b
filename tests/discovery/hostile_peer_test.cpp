// The real program against hostile peers whose answers are too large or too odd to write down
// (megabytes, a character cut short): nothing the peer sends reaches the terminal raw or unbounded.
// The others are program cases: tests/cases/program/peers.md.
#include <gtest/gtest.h>

#include "quelby/assets/frontend_url.h"
#include "quelby/core/quoted_text.h"
#include "quelby/core/utf8.h"
#include "support/child_process.h"
#include "support/fake_inspector.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::FakeInspector;
using test_support::http_reply;
using test_support::inspector_binary;
using test_support::run_process;

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

TEST(HostilePeer, QuotesPeerTextEscapedAndCapped) {
    // (A status line's control characters: tests/cases/discovery/reply.md, since a non-200
    // reply is retried until the deadline.)
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
