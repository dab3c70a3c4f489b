// When a reply is complete, fed as bytes arrive (the reply check, the status line and
// Content-Length are table cases: tests/cases/discovery/reply.md).
#include "quelby/discovery/http_reply.h"

#include <gtest/gtest.h>

namespace quelby::http {
namespace {

TEST(ReplyProgress, CompletesAtTheDeclaredLengthWhicheverWayBytesArrive) {
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n[12]";
    // Fed one byte at a time, it is complete exactly at the last byte.
    ReplyProgress progress;
    for (std::size_t n = 1; n <= reply.size(); ++n) {
        EXPECT_EQ(progress.complete(std::string_view(reply).substr(0, n)), n == reply.size()) << n;
    }
    // More than declared in one read is complete too (and kept whole by the reader).
    ReplyProgress more;
    EXPECT_TRUE(more.complete(reply + "extra"));
    // Without a usable length, never: only the peer's close ends the reply.
    ReplyProgress unknown;
    EXPECT_FALSE(unknown.complete("HTTP/1.0 200 OK\r\n\r\n[]"));
    EXPECT_FALSE(unknown.complete("HTTP/1.0 200 OK\r\n\r\n[]]]]]]"));
    // A head split across reads is still found.
    ReplyProgress split;
    EXPECT_FALSE(split.complete("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r"));
    EXPECT_TRUE(split.complete("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"));
}

}  // namespace
}  // namespace quelby::http
