#include "quelby/assets/devtools_scheme.h"
#include "quelby/assets/frontend_url.h"
#include "quelby/core/byte_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "quelby/assets/asset_table.h"

namespace quelby {
namespace {

constexpr std::string_view HTML = "text/html; charset=utf-8";
constexpr std::string_view JS = "text/javascript; charset=utf-8";
constexpr std::string_view OCTET = "application/octet-stream";
constexpr std::string_view NOT_FOUND_TYPE = "text/plain; charset=utf-8";

TEST(ContentTypeForPath, UsesTheTextAfterTheLastDotAnywhereInThePath) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"a.js", JS},
        {"a.mjs", JS},
        {"a.css", "text/css; charset=utf-8"},
        {"a.html", HTML},
        {"a.json", "application/json; charset=utf-8"},
        {"a.md", "text/markdown; charset=utf-8"},
        {"a.svg", "image/svg+xml"},
        {"a.png", "image/png"},
        {"a.avif", "image/avif"},
        {"a.wasm", "application/wasm"},
        {"a.woff2", "font/woff2"},
        {"third_party/codemirror.next/chunk/codemirror.js", JS},
        {"third_party/codemirror.next/chunk", OCTET},  // extension "next/chunk"
        {"js", JS},                                    // no dot: the path is its own extension
        {"a.", OCTET},
        {"", OCTET},
        {"x.JS", OCTET},
        {"a.htm", OCTET},
        {"a.txt", OCTET},
        {"a.html.gz", OCTET},
        {"a.gz.html", HTML},
        {"a.js?x=1", OCTET},
        {"a.woff22", OCTET},
    };
    for (const auto& [path, type] : cases) {
        EXPECT_EQ(content_type_for_path(path), type) << path;
    }
}

TEST(DevtoolsResponse, ServesEmbeddedFilesByPathWithTheirTypes) {
    struct Case {
        std::string_view uri;
        std::string_view file;  // the entry served
        std::string_view type;
    };
    const Case cases[] = {
        {"devtools://localhost/", "js_app.html", HTML},
        {"devtools://localhost", "js_app.html", HTML},
        {"devtools://localhost//", "js_app.html", HTML},
        {"devtools://localhost///js_app.html", "js_app.html", HTML},
        {"devtools://localhost/?ws=127.0.0.1:9229/x", "js_app.html", HTML},
        {"devtools://localhost/js_app.html?ws=127.0.0.1:9229/abc&experiments=true&v8only=true",
         "js_app.html", HTML},
        {"devtools://localhost/js_app.html#frag", "js_app.html", HTML},
        {"http://devtools.localhost/js_app.html", "js_app.html", HTML},
        {"/", "js_app.html", HTML},
        {"", "js_app.html", HTML},
        {"//", "js_app.html", HTML},
        {"/js_app.html?x", "js_app.html", HTML},
        {"devtools://localhost/entrypoints/js_app/js_app.js", "entrypoints/js_app/js_app.js", JS},
        {"devtools://localhost/Images/3d-center.svg", "Images/3d-center.svg", "image/svg+xml"},
        {"devtools://localhost/core/i18n/locales/en-US.json", "core/i18n/locales/en-US.json",
         "application/json; charset=utf-8"},
        {"devtools://localhost/models/issues_manager/descriptions/CoepCorpNotSameOrigin.md",
         "models/issues_manager/descriptions/CoepCorpNotSameOrigin.md",
         "text/markdown; charset=utf-8"},
        {"devtools://localhost/third_party/codemirror.next/chunk/codemirror.js",
         "third_party/codemirror.next/chunk/codemirror.js", JS},
        {"devtools://localhost/Images\\3d-center.svg", "Images/3d-center.svg", "image/svg+xml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.uri));
        const AssetEntry* entry = AssetTable::lookup(c.file);
        ASSERT_NE(entry, nullptr);
        const DevtoolsResponse response = devtools_response_for_uri(c.uri);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.content_type, c.type);
        // The body is the embedded file itself, not a copy.
        EXPECT_EQ(response.body.data(), entry->bytes.data());
        EXPECT_EQ(response.body.size(), entry->bytes.size());
    }
    // Every embedded file gets a type from the table.
    for (const AssetEntry& entry : AssetTable::entries()) {
        EXPECT_NE(content_type_for_path(entry.path), OCTET) << entry.path;
    }
}

TEST(DevtoolsResponse, AnswersNotFoundForEverythingElse) {
    const std::string_view uris[] = {
        "devtools://localhost/JS_APP.HTML",
        "devtools://localhost/Images/",
        "devtools://localhost/Images",
        "devtools://localhost/missing.js",
        "devtools://localhost/missing.png",
        "devtools://localhost/missing",
        "devtools://localhost/\\js_app.html",  // the backslash survives the slash trimming
        "devtools://localhost//\\js_app.html",
        "devtools://localhost/js%5Fapp.html",
        "devtools://localhost/Images%2F3d-center.svg",
        "devtools://localhost/Images/../js_app.html",
        "devtools://localhost/js_app.html/",
        "devtools://localhost/js_app.html%3Fws=1",
        "/JS_APP.HTML?x",
    };
    for (const std::string_view uri : uris) {
        SCOPED_TRACE(std::string(uri));
        const DevtoolsResponse response = devtools_response_for_uri(uri);
        EXPECT_EQ(response.status, 404);
        EXPECT_EQ(response.content_type, NOT_FOUND_TYPE);
        EXPECT_EQ(as_text(response.body), "Not Found");
    }
}

// What the handler hands its responder, and how often. The header views are constants, so they
// stay valid after the handler's own header array is gone.
struct Answered {
    int calls = 0;
    std::optional<webview_host::Response> response;
    std::vector<webview_host::ResponseHeader> headers;
};

Answered handle(const webview_host::Request& request) {
    Answered answered;
    devtools_scheme_handler(
        "webview-1", request, webview_host::Responder([&](webview_host::Response response) {
            ++answered.calls;
            answered.headers.assign(response.headers.begin(), response.headers.end());
            answered.response = response;
        }));
    return answered;
}

TEST(DevtoolsSchemeUrl, MapsTheHttpFormOfThePrivateSchemeAndLeavesOtherUrls) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://devtools.localhost/js_app.html?ws=127.0.0.1:9229/abc&experiments=true&v8only=true",
         "devtools://localhost/js_app.html?ws=127.0.0.1:9229/abc&experiments=true&v8only=true"},
        {"http://devtools.localhost/", "devtools://localhost/"},
        {"HTTP://DevTools.localhost/x", "devtools://localhost/x"},
        {"devtools://localhost/js_app.html", "devtools://localhost/js_app.html"},
        {"https://devtools.localhost/x", "https://devtools.localhost/x"},
        {"http://devtoolsx.localhost/", "http://devtoolsx.localhost/"},
        {"http://example.com/?u=http://devtools.localhost/",
         "http://example.com/?u=http://devtools.localhost/"},
        {"http://devtools", "http://devtools"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(devtools_scheme_url(in), out) << "for " << in;
    }
}

TEST(DevtoolsSchemeHandler, RespondsOnceBeforeReturningWithOneContentTypeHeader) {
    const AssetEntry* svg = AssetTable::lookup("Images/3d-center.svg");
    ASSERT_NE(svg, nullptr);
    const Answered found = handle({.method = "GET",
                                   .uri = "devtools://localhost/Images/3d-center.svg",
                                   .headers = {},
                                   .body = {}});
    ASSERT_EQ(found.calls, 1);
    EXPECT_EQ(found.response->status, 200);
    ASSERT_EQ(found.headers.size(), 1u);
    EXPECT_EQ(found.headers[0].name, "content-type");
    EXPECT_EQ(found.headers[0].value, "image/svg+xml");
    EXPECT_EQ(found.response->body.data(), svg->bytes.data());
    EXPECT_EQ(found.response->body.size(), svg->bytes.size());

    const Answered missing =
        handle({.method = "GET", .uri = "devtools://localhost/nope.js", .headers = {}, .body = {}});
    ASSERT_EQ(missing.calls, 1);
    EXPECT_EQ(missing.response->status, 404);
    ASSERT_EQ(missing.headers.size(), 1u);
    EXPECT_EQ(missing.headers[0].name, "content-type");
    EXPECT_EQ(missing.headers[0].value, NOT_FOUND_TYPE);
    EXPECT_EQ(as_text(missing.response->body), "Not Found");
}

TEST(DevtoolsSchemeHandler, MethodHeadersAndBodyChangeNothing) {
    const AssetEntry* start = AssetTable::lookup("js_app.html");
    ASSERT_NE(start, nullptr);
    const std::string uri = "devtools://localhost/js_app.html";
    const webview_host::Request requests[] = {
        {.method = "GET", .uri = uri, .headers = {}, .body = {}},
        {.method = "POST",
         .uri = uri,
         .headers = {{"content-type", "text/plain"}},
         .body = {'x', 'y'}},
        {.method = "GET", .uri = uri, .headers = {{"Range", "bytes=0-9"}}, .body = {}},
        {.method = "GET", .uri = uri, .headers = {{"If-None-Match", "\"abc\""}}, .body = {}},
        {.method = "HEAD", .uri = uri, .headers = {}, .body = {}},
    };
    for (const webview_host::Request& request : requests) {
        SCOPED_TRACE(request.method);
        const Answered answered = handle(request);
        ASSERT_EQ(answered.calls, 1);
        EXPECT_EQ(answered.response->status, 200);
        ASSERT_EQ(answered.headers.size(), 1u);
        EXPECT_EQ(answered.headers[0].value, HTML);
        EXPECT_EQ(answered.response->body.data(), start->bytes.data());
        EXPECT_EQ(answered.response->body.size(), start->bytes.size());
    }
}

}  // namespace
}  // namespace quelby
