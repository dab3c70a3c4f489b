#include "quelby/discovery/http_reply.h"

#include <gtest/gtest.h>

namespace quelby::http {
namespace {

TEST(ReplyCheck, SplitsTestsTheStatusAndReturnsTheBody) {
    struct Case {
        std::string name;
        std::string reply;
        std::optional<std::string> body;  // nullopt: fails with `error`
        std::string error;
    };
    const std::vector<Case> cases = {
        {"plain 200", "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n[]", "[]", ""},
        {"empty body", "HTTP/1.1 200 OK\r\n\r\n", "", ""},
        {"body keeps later blank lines", "HTTP/1.0 200 OK\r\n\r\n[\r\n\r\n]", "[\r\n\r\n]", ""},
        {"200 anywhere in the status line", "HTTP/1.1 500 Internal Server Error 200\r\n\r\nx", "x",
         ""},
        {"only the status line is tested", "HTTP/1.1 404 Not Found\r\nX: 200\r\n\r\n", std::nullopt,
         "inspector returned non-200: HTTP/1.1 404 Not Found"},
        {"404", "HTTP/1.1 404 Not Found\r\n\r\n", std::nullopt,
         "inspector returned non-200: HTTP/1.1 404 Not Found"},
        {"empty head", "\r\n\r\n[]", std::nullopt, "inspector returned non-200: "},
        {"status line ends at a bare LF", "HTTP/1.0 404\nX: 200\r\n\r\n", std::nullopt,
         "inspector returned non-200: HTTP/1.0 404"},
        {"bare LF LF is malformed", "HTTP/1.0 200 OK\n\n[]", std::nullopt,
         "malformed HTTP response from inspector"},
        {"nothing at all", "", std::nullopt, "malformed HTTP response from inspector"},
        {"head never ends", "HTTP/1.0 200 OK\r\n", std::nullopt,
         "malformed HTTP response from inspector"},
        {"UTF-8 before anything else", "HTTP/1.0 404\r\n\r\n\xFF", std::nullopt,
         "stream did not contain valid UTF-8"},
        {"control characters in the status line are escaped",
         std::string("HTTP/1.0 500 \x1B[2J\0x\x7F\r\n\r\n", 24), std::nullopt,
         "inspector returned non-200: HTTP/1.0 500 <U+001B>[2J<U+0000>x<U+007F>"},
        {"UTF-8 in the body is fine", "HTTP/1.0 200 OK\r\n\r\n[\"\xE2\x80\x94\"]",
         "[\"\xE2\x80\x94\"]", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto body = check_reply(c.reply);
        if (c.body) {
            ASSERT_TRUE(body.has_value()) << body.error().messages().front();
            EXPECT_EQ(*body, *c.body);
        } else {
            ASSERT_FALSE(body.has_value());
            EXPECT_EQ(body.error().messages(), std::vector<std::string>{c.error});
        }
    }
}

TEST(StatusLine, IsTheFirstLineWithoutItsCr) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"HTTP/1.0 200 OK", "HTTP/1.0 200 OK"},
        {"A\r\nB", "A"},
        {"A\nB", "A"},
        {"A\r\r\nB", "A\r"},
        {"\r\nB", ""},
    };
    for (const auto& [head, line] : cases) {
        EXPECT_EQ(status_line(head), line);
    }
    EXPECT_TRUE(status_line_accepted("x200x"));
    EXPECT_FALSE(status_line_accepted("HTTP/1.0 20 0"));
}

TEST(ContentLength, IsUsableOnlyWhenUnambiguous) {
    const std::vector<std::pair<std::string, std::optional<std::size_t>>> cases = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 12", 12},
        {"HTTP/1.0 200 OK\r\ncontent-length:0", 0},
        {"HTTP/1.0 200 OK\r\nCONTENT-LENGTH: \t 7 \t", 7},
        {"HTTP/1.0 200 OK\nContent-Length: 7", 7},
        {"HTTP/1.0 200 OK\r\nContent-Length: 7\r\nContent-Length: 7", 7},
        {"HTTP/1.0 200 OK", std::nullopt},
        {"Content-Length: 5", std::nullopt},  // the status line is no header
        {"HTTP/1.0 200 OK\r\nContent-Length: 7\r\nContent-Length: 8", std::nullopt},
        {"HTTP/1.0 200 OK\r\nContent-Length: -1", std::nullopt},
        {"HTTP/1.0 200 OK\r\nContent-Length: +1", std::nullopt},
        {"HTTP/1.0 200 OK\r\nContent-Length: 1 2", std::nullopt},
        {"HTTP/1.0 200 OK\r\nContent-Length:", std::nullopt},
        {"HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999999", std::nullopt},
        {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: chunked", std::nullopt},
        {"HTTP/1.0 200 OK\r\nX-Content-Length: 5", std::nullopt},
    };
    for (const auto& [head, length] : cases) {
        SCOPED_TRACE(head);
        EXPECT_EQ(declared_content_length(head), length);
    }
}

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
