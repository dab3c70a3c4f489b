// file: URLs as the front end names local source maps and sources: which URLs name a local file,
// which path they name, and the URL the program gives a path back.
#include "quelby/resources/file_url.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quelby {
namespace {

std::filesystem::path utf8_path(std::string_view text) {
    return {std::u8string(text.begin(), text.end())};
}

struct PathCase {
    const char* url;
    const char* path;  // UTF-8
};

TEST(PathOfFileUrl, NamesTheDecodedLocalPath) {
    const std::vector<PathCase> cases = {
        {"file:///home/a/b%20c.js", "/home/a/b c.js"},
        {"file:///tmp/%C3%A9t%C3%A9/%E6%97%A5.js", "/tmp/\xC3\xA9t\xC3\xA9/\xE6\x97\xA5.js"},
        {"file:///tmp/%f0%9f%98%80.map", "/tmp/\xF0\x9F\x98\x80.map"},
        {"file:///tmp/\xC3\xA9.js", "/tmp/\xC3\xA9.js"},  // unescaped UTF-8 as it came
        {"file://localhost/a.js", "/a.js"},
        {"file://LocalHost/a.js", "/a.js"},
        {"FILE:///a.js", "/a.js"},
        {"file:///", "/"},
        // The query and the fragment are not part of the path; their escaped forms are.
        {"file:///src/app.js.map?v=3#L10", "/src/app.js.map"},
        {"file:///src/app.js#frag?x", "/src/app.js"},
        {"file:///a%23b%3Fc.js", "/a#b?c.js"},
        {"file:///100%25.js", "/100%.js"},
    };
    for (const PathCase& c : cases) {
        const auto path = path_of_file_url(c.url);
        ASSERT_TRUE(path) << c.url << ": " << path.error().messages().front();
        EXPECT_EQ(*path, utf8_path(c.path)) << c.url;
    }
}

TEST(PathOfFileUrl, RefusesWhatNamesNoLocalAbsolutePath) {
    const std::vector<const char*> refused = {
        "file://example.com/etc/passwd",  // another host
        "file://127.0.0.1/a.js",
        "file://localhost@evil/a.js",
        "file://evil?/a.js",  // the host ends at the query
        "file://localhost",   // no path at all
        "file://",
        "file:relative/a.js",
        "http:///a.js",
        "",
        "file:///a%2",  // escapes that are not two hex digits
        "file:///a%",
        "file:///a%zz",
        "file:///a%G1",
        "file:///a%%41",
        "file:///a%00b",  // an escaped NUL would cut the path short
        "file:///a/%00",
    };
    for (const char* url : refused) {
        const auto path = path_of_file_url(url);
        EXPECT_FALSE(path) << url << " gave " << path->string();
    }
}

TEST(FileUrlOf, EscapesEveryByteThatWouldChangeTheUrlAndRoundTrips) {
    EXPECT_EQ(file_url_of(utf8_path("/a b/\xC3\xA9.js")), "file:///a%20b/%C3%A9.js");
    const std::vector<std::string> paths = {
        "/tmp/a b/c.js",
        "/tmp/100%/x%20y",
        "/tmp/a#b?c.js",
        "/tmp/\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.js",
        "/tmp/\xF0\x9F\x98\x80 emoji",
        "/tmp/a+b;c=d&e'f(g)[h]",
        "/tmp/back\\slash",
        "/tmp/tab\there",
        "/",
    };
    for (const std::string& text : paths) {
        const std::filesystem::path path = utf8_path(text);
        const std::string url = file_url_of(path);
        EXPECT_TRUE(url.starts_with("file:///")) << url;
        EXPECT_EQ(url.find_first_of(" #?\t\\"), std::string::npos) << url;
        for (const char c : url) {
            EXPECT_LT(static_cast<unsigned char>(c), 0x80U) << url;
        }
        const auto back = path_of_file_url(url);
        ASSERT_TRUE(back) << url;
        EXPECT_EQ(*back, path) << url;
    }
}

}  // namespace
}  // namespace quelby
