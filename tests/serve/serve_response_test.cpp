// The --serve server's decision without sockets: each row is a request head and what must be sent
// for it (status, fields present or absent, the body or none, whether the connection ends).
#include "quelby/serve/serve_response.h"
#include "quelby/core/byte_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "quelby/assets/asset_route.h"
#include "quelby/assets/asset_table.h"
#include "quelby/serve/frontend_server.h"
#include "quelby/serve/serve_rules.h"

namespace quelby::serve {
namespace {

constexpr std::string_view DATE = "Sun, 06 Nov 1994 08:49:37 GMT";
constexpr std::string_view SECRET = "0123456789abcdef0123456789abcdef";
constexpr std::string_view START_PAGE = "<!DOCTYPE html><title>start page</title>";
constexpr std::string_view HOST_SCRIPT = "globalThis.InspectorFrontendHost = {};";
constexpr std::string_view ROOT_LOCATION =
    "/js_app.html?ws=127.0.0.1:9229/abc&experiments=true&v8only=true";
constexpr std::string_view LARGEST_FILE = "third_party/lighthouse/lighthouse-dt-bundle.js";
constexpr std::string_view PLAIN_TEXT = "text/plain; charset=utf-8";

const AssetEntry& entry(std::string_view path) {
    const AssetEntry* found = AssetTable::lookup(path);
    EXPECT_NE(found, nullptr) << path;
    return *found;
}

const FileValidators& validators() {
    static const FileValidators computed;
    return computed;
}

ServeContext context(std::optional<std::string_view> root_location = ROOT_LOCATION,
                     std::string_view bound_name = {}) {
    return {.bound_name = bound_name,
            .validators = validators(),
            .secret = SECRET,
            .start_page = START_PAGE,
            .host_script = HOST_SCRIPT,
            .root_location = root_location,
            .date = DATE};
}

// A request head: its text ("METHOD TARGET HTTP/1.x", then "Name: value" lines, split on CR LF
// and nothing more) and what the parser reports beside the fields. Without a Connection field the
// parser keeps an HTTP/1.1 connection and ends an HTTP/1.0 one: that is the default here.
struct Request {
    std::string text;
    std::optional<bool> keep_alive = std::nullopt;
    bool chunked = false;
    std::optional<std::uint64_t> content_length = std::nullopt;
};

// `request` as respond() gets it; the views point into `request.text` and `fields`.
RequestHead head_of(const Request& request, std::vector<Field>& fields) {
    std::vector<std::string_view> lines;
    std::string_view rest = request.text;
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        lines.push_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 2);
    }
    EXPECT_FALSE(lines.empty());
    const std::string_view line = lines.front();
    const std::size_t first_blank = line.find(' ');
    const std::size_t last_blank = line.rfind(' ');
    RequestHead head;
    head.method = line.substr(0, first_blank);
    head.target = line.substr(first_blank + 1, last_blank - first_blank - 1);
    head.version = line.substr(last_blank + 1) == "HTTP/1.0" ? 10 : 11;
    fields.clear();
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t colon = lines[i].find(':');
        std::string_view value = lines[i].substr(colon + 1);
        value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
        fields.push_back({lines[i].substr(0, colon), value});
    }
    head.fields = fields;
    head.keep_alive = request.keep_alive.value_or(head.version == 11);
    head.chunked = request.chunked;
    head.content_length = request.content_length;
    return head;
}

Decision decide(const Request& request, const ServeContext& with = context()) {
    std::vector<Field> fields;
    return respond(head_of(request, fields), with);
}

std::optional<std::string_view> header(const Response& response, std::string_view name) {
    const auto found = std::ranges::find_if(
        response.headers, [name](const Field& field) { return field.name == name; });
    return found == response.headers.end() ? std::nullopt : std::optional(found->value);
}

std::vector<std::string_view> header_names(const Response& response) {
    std::vector<std::string_view> names;
    for (const Field& field : response.headers) {
        names.push_back(field.name);
    }
    return names;
}

// What follows the head on the wire; nullopt when nothing does (HEAD).
std::optional<std::string> sent_body(const Response& response) {
    if (response.framing.head_only) {
        return std::nullopt;
    }
    return std::string(response.body);
}

// What holds for every answer: the Date, nosniff, each field once, a Content-Length that is the
// body's, and a Connection field that says what the framing decided.
void expect_well_formed(const Response& response) {
    EXPECT_EQ(header(response, "Date"), DATE);
    EXPECT_EQ(header(response, "X-Content-Type-Options"), "nosniff");
    const auto names = header_names(response);
    EXPECT_EQ(std::set(names.begin(), names.end()).size(), names.size())
        << ::testing::PrintToString(names);
    EXPECT_EQ(header(response, "Content-Length"), std::nullopt);  // only as content_length
    if (response.content_length) {
        EXPECT_EQ(*response.content_length, response.body.size());
    }
    const bool v11 = response.framing.version == 11;
    EXPECT_TRUE(v11 || response.framing.version == 10) << response.framing.version;
    if (v11) {
        EXPECT_EQ(header(response, "Connection"), response.framing.close_after
                                                      ? std::optional<std::string_view>("close")
                                                      : std::nullopt);
    } else {
        EXPECT_EQ(header(response, "Connection"),
                  response.framing.close_after ? std::nullopt
                                               : std::optional<std::string_view>("keep-alive"));
    }
}

// A field's expected value, or nullopt: absent.
using ExpectedFields = std::vector<std::pair<std::string_view, std::optional<std::string>>>;

struct Expected {
    int status;
    ExpectedFields fields = {};
    std::optional<std::string> body = std::nullopt;  // what follows the head; nullopt: nothing
    bool closes = false;
};

void expect_response(const Decision& decision, const Expected& expected) {
    const auto* response = std::get_if<Response>(&decision);
    ASSERT_NE(response, nullptr) << "not an answer at once: " << decision.index();
    expect_well_formed(*response);
    EXPECT_EQ(response->status, expected.status);
    for (const auto& [name, value] : expected.fields) {
        EXPECT_EQ(header(*response, name), value) << name;
    }
    EXPECT_EQ(sent_body(*response), expected.body);
    EXPECT_EQ(response->framing.close_after, expected.closes);
}

std::string reason(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 413:
            return "Payload Too Large";
        case 414:
            return "URI Too Long";
        case 431:
            return "Request Header Fields Too Large";
        default:
            ADD_FAILURE() << status;
            return "";
    }
}

// A refusal: plain text whose body is the reason phrase (nothing after a HEAD's head), and Allow
// only on a 405.
Expected refusal(int status, bool closes, bool head = false) {
    const std::string text = reason(status);
    return {.status = status,
            .fields = {{"Content-Type", std::string(PLAIN_TEXT)},
                       {"Allow",
                        status == 405 ? std::optional<std::string>("GET, HEAD") : std::nullopt},
                       {"Cache-Control", std::nullopt}},
            .body = head ? std::nullopt : std::optional(text),
            .closes = closes};
}

Expected served_file(std::string_view path, bool closes = false) {
    return {.status = 200,
            .fields = {{"ETag", entity_tag(entry(path).sha256)}},
            .body = std::string(as_text(entry(path).bytes)),
            .closes = closes};
}

std::string get(std::string_view target, std::string_view host = "127.0.0.1") {
    return "GET " + std::string(target) + " HTTP/1.1\r\nHost: " + std::string(host);
}

TEST(Respond, ServesEveryKindOfEmbeddedFileWithItsTypeAndValidators) {
    // One file per extension the table holds (no css is embedded; its type is the route's rule).
    const std::pair<std::string, std::string_view> cases[] = {
        {"/entrypoints/js_app/js_app.js", "text/javascript; charset=utf-8"},
        {"/Images/3d-center.svg", "image/svg+xml"},
        {"/js_app.html?ws=x", "text/html; charset=utf-8"},
        {"/core/i18n/locales/en-US.json", "application/json; charset=utf-8"},
        {"/models/issues_manager/descriptions/CoepCorpNotSameOrigin.md",
         "text/markdown; charset=utf-8"},
        {"/Images/accelerometer-left.png", "image/png"},
        {"/emulated_devices/optimized/MotoG4-portrait.avif", "image/avif"},
        {"/" + std::string(LARGEST_FILE), "text/javascript; charset=utf-8"},
    };
    for (const auto& [target, type] : cases) {
        SCOPED_TRACE(target);
        const std::string path(path_of_uri(target).substr(1));
        const AssetEntry* file = AssetTable::lookup(path);
        if (file == nullptr) {
            ADD_FAILURE() << "not embedded: " << path;
            continue;
        }
        const Decision decision = decide({get(target)});
        expect_response(decision, {.status = 200,
                                   .fields = {{"Content-Type", std::string(type)},
                                              {"ETag", entity_tag(file->sha256)},
                                              {"Last-Modified", http_date(*file->last_modified)},
                                              {"Cache-Control", "no-cache"}},
                                   .body = std::string(as_text(file->bytes))});
        const auto& response = std::get<Response>(decision);
        EXPECT_EQ(response.content_length, file->bytes.size());
        // The file is the table's own bytes, never a copy.
        EXPECT_EQ(static_cast<const void*>(response.body.data()),
                  static_cast<const void*>(file->bytes.data()));
        EXPECT_EQ(header_names(response), (std::vector<std::string_view>{
                                              "Date", "X-Content-Type-Options", "ETag",
                                              "Last-Modified", "Cache-Control", "Content-Type"}));
    }
}

TEST(Respond, AnswersConditionalRequestsWithNotModified) {
    const AssetEntry& file = entry("Images/3d-center.svg");
    const std::string etag = entity_tag(file.sha256);
    const std::string modified = http_date(*file.last_modified);
    const std::string request = get("/Images/3d-center.svg");
    const std::pair<std::string, int> cases[] = {
        {"If-None-Match: " + etag, 304},
        {"If-None-Match: W/" + etag, 304},
        {"If-None-Match: \"other\", " + etag, 304},
        {"If-None-Match: *", 304},
        {"If-None-Match: \"other\"", 200},
        {"if-none-match: " + etag, 304},  // field names in any case
        {"If-Modified-Since: " + modified, 304},
        {"If-Modified-Since: " + http_date(*file.last_modified + 86400), 304},
        {"If-Modified-Since: " + http_date(*file.last_modified - 1), 200},
        {"If-Modified-Since: yesterday", 200},
        // The tag decides when both are sent: a changed file is never hidden behind its date.
        {"If-None-Match: \"other\"\r\nIf-Modified-Since: " + modified, 200},
        {"If-Modified-Since: " + modified + "\r\nIf-None-Match: \"other\"", 200},
        // Only the first of each counts.
        {"If-None-Match: " + etag + "\r\nIf-None-Match: \"other\"", 304},
    };
    for (const auto& [conditions, status] : cases) {
        SCOPED_TRACE(conditions);
        const Decision decision = decide({request + "\r\n" + conditions});
        if (status == 200) {
            expect_response(decision, served_file("Images/3d-center.svg"));
            continue;
        }
        // The validators and the caching rule again, without the body or its type and length.
        expect_response(decision, {.status = 304,
                                   .fields = {{"ETag", etag},
                                              {"Last-Modified", modified},
                                              {"Cache-Control", "no-cache"},
                                              {"Content-Type", std::nullopt}},
                                   .body = ""});
        const auto& response = std::get<Response>(decision);
        EXPECT_EQ(response.content_length, std::nullopt);
        EXPECT_EQ(header_names(response),
                  (std::vector<std::string_view>{"Date", "X-Content-Type-Options", "ETag",
                                                 "Last-Modified", "Cache-Control"}));
    }
}

// Every refusal and what decides it, in the order the checks are made: the framing of a body, the
// Host, the target's own host, the number of fields, the method, then the path.
TEST(Respond, RefusesWhatItCannotOrMustNotServe) {
    const std::string own = "127.0.0.1:8080";
    std::string many_fields = get("/js_app.html");
    std::string most_fields = many_fields;
    for (std::size_t i = 1; i <= SERVE_MAX_FIELDS; ++i) {
        many_fields += "\r\nX-" + std::to_string(i) + ": 1";
        if (i < SERVE_MAX_FIELDS) {
            most_fields += "\r\nX-" + std::to_string(i) + ": 1";
        }
    }
    const std::pair<Request, Expected> cases[] = {
        // A Transfer-Encoding that does not end in chunked frames a body of no length this server
        // can read: refused, and the connection ends.
        {{get("/js_app.html") + "\r\nTransfer-Encoding: gzip"}, refusal(400, true)},
        {{get("/js_app.html") + "\r\nTransfer-Encoding: identity"}, refusal(400, true)},
        {{get("/js_app.html") + "\r\nTransfer-Encoding: chunked, gzip"}, refusal(400, true)},
        {{"HEAD /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: gzip"},
         refusal(400, true, /*head=*/true)},
        {{"GET /js_app.html HTTP/1.1\r\nTransfer-Encoding: gzip\r\nHost: evil.example"},
         refusal(400, true)},
        // Chunked is a body like any other: served, and the connection ends.
        {{get("/Images/3d-center.svg") + "\r\nTransfer-Encoding: gzip, chunked", {}, true},
         served_file("Images/3d-center.svg", /*closes=*/true)},

        // One Host, naming an address, localhost or the bound name; 403 leaves the connection
        // open, 400 ends it.
        {{get("/Images/3d-center.svg", "127.0.0.1")}, served_file("Images/3d-center.svg")},
        {{get("/Images/3d-center.svg", "127.0.0.1:1")}, served_file("Images/3d-center.svg")},
        {{get("/Images/3d-center.svg", "localhost:8080")}, served_file("Images/3d-center.svg")},
        {{get("/Images/3d-center.svg", "LocalHost")}, served_file("Images/3d-center.svg")},
        {{get("/Images/3d-center.svg", "[::1]:9000")}, served_file("Images/3d-center.svg")},
        {{get("/Images/3d-center.svg", "10.1.2.3")}, served_file("Images/3d-center.svg")},
        {{get("/js_app.html", "evil.example")}, refusal(403, false)},
        {{get("/js_app.html", "evil.example:80")}, refusal(403, false)},
        {{get("/js_app.html", "localhost.evil.example")}, refusal(403, false)},
        {{get("/js_app.html", "127.0.0.1.evil.example")}, refusal(403, false)},
        {{"GET /js_app.html HTTP/1.1\r\nhost: evil.example"}, refusal(403, false)},
        {{"HEAD /js_app.html HTTP/1.1\r\nHost: evil.example"}, refusal(403, false, true)},
        {{get("/js_app.html", "a b")}, refusal(400, true)},
        {{get("/js_app.html", "[::1")}, refusal(400, true)},
        {{get("/js_app.html", "127.0.0.1:x")}, refusal(400, true)},
        {{"GET /js_app.html HTTP/1.1"}, refusal(400, true)},
        {{"GET /js_app.html HTTP/1.0"}, refusal(400, true)},
        {{get("/js_app.html") + "\r\nHost: evil.example"}, refusal(400, true)},
        {{get("/js_app.html") + "\r\nHost: 127.0.0.1"}, refusal(400, true)},
        // A 403 to a request with a body ends the connection all the same.
        {{get("/js_app.html", "evil.example") + "\r\nContent-Length: 5", {}, false, 5},
         refusal(403, true)},

        // A target in absolute form names its host as well, checked as Host is.
        {{get("http://" + own + "/Images/3d-center.svg", own)},
         served_file("Images/3d-center.svg")},
        {{get("http://localhost/Images/3d-center.svg", own)}, served_file("Images/3d-center.svg")},
        {{get("HTTP://[::1]:1/Images/3d-center.svg?x=1", own)},
         served_file("Images/3d-center.svg")},
        {{get("http://evil.example/js_app.html", own)}, refusal(403, false)},
        {{get("http://evil.example", own)}, refusal(403, false)},
        {{get("https://EVIL.example:443/", own)}, refusal(403, false)},
        {{get("http://localhost.evil.example/js_app.html", own)}, refusal(403, false)},
        {{get("http://evil.example?/js_app.html", own)}, refusal(403, false)},
        {{get("http://user@127.0.0.1/js_app.html", own)}, refusal(400, true)},
        {{get("http:///js_app.html", own)}, refusal(400, true)},
        // ... even when the Host is foreign and the target's host is not.
        {{get("http://127.0.0.1/js_app.html", "evil.example")}, refusal(403, false)},

        // At most SERVE_MAX_FIELDS fields, the Host among them.
        {{most_fields}, served_file("js_app.html")},
        {{many_fields}, refusal(431, true)},
        {{"POST" + many_fields.substr(3)}, refusal(431, true)},

        // GET and HEAD only, as spelled.
        {{"POST /js_app.html HTTP/1.1\r\nHost: 127.0.0.1"}, refusal(405, true)},
        {{"PUT /js_app.html HTTP/1.1\r\nHost: 127.0.0.1"}, refusal(405, true)},
        {{"DELETE /js_app.html HTTP/1.1\r\nHost: 127.0.0.1"}, refusal(405, true)},
        {{"OPTIONS /js_app.html HTTP/1.1\r\nHost: 127.0.0.1"}, refusal(405, true)},
        {{"PATCH /js_app.html HTTP/1.1\r\nHost: 127.0.0.1"}, refusal(405, true)},
        {{"BREW /js_app.html HTTP/1.1\r\nHost: 127.0.0.1"}, refusal(405, true)},
        {{"get /js_app.html HTTP/1.1\r\nHost: 127.0.0.1"}, refusal(405, true)},
        {{"POST /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000",
          {},
          false,
          100000},
         refusal(405, true)},
        {{"POST /js_app.html HTTP/1.1\r\nHost: evil.example"}, refusal(403, false)},

        // Paths that name no embedded file: 404, and the connection carries on.
        {{get("/missing.js")}, refusal(404, false)},
        {{get("/Images/")}, refusal(404, false)},
        {{get("/Images")}, refusal(404, false)},
        {{get("/JS_APP.HTML")}, refusal(404, false)},
        {{get("/../js_app.html")}, refusal(404, false)},
        {{get("/Images/../js_app.html")}, refusal(404, false)},
        {{get("/%2e%2e/js_app.html")}, refusal(404, false)},
        {{get("/%2E%2E/%2E%2E/etc/passwd")}, refusal(404, false)},
        {{get("/..%2fjs_app.html")}, refusal(404, false)},
        {{get("/..\\js_app.html")}, refusal(404, false)},
        {{get("/Images\\..\\js_app.html")}, refusal(404, false)},
        {{get("/etc/passwd")}, refusal(404, false)},
        {{get("/../../../../etc/passwd")}, refusal(404, false)},
        {{get("/js_app.html%00")}, refusal(404, false)},
        {{"HEAD /no-such-file HTTP/1.1\r\nHost: 127.0.0.1"}, refusal(404, false, true)},
        {{"GET /no-such-file HTTP/1.0\r\nHost: 127.0.0.1"}, refusal(404, true)},
        {{"GET /no-such-file HTTP/1.0\r\nHost: 127.0.0.1", true}, refusal(404, false)},
    };
    for (const auto& [request, expected] : cases) {
        SCOPED_TRACE(request.text.substr(0, 120));
        expect_response(decide(request), expected);
    }
}

TEST(Respond, TheBoundNameIsAnAllowedHostAsIsItsAbsoluteTarget) {
    const ServeContext named = context(ROOT_LOCATION, "Inspector.Test");
    expect_response(decide({get("/Images/3d-center.svg", "inspector.test:9")}, named),
                    served_file("Images/3d-center.svg"));
    expect_response(decide({get("http://INSPECTOR.test/Images/3d-center.svg", "127.0.0.1")}, named),
                    served_file("Images/3d-center.svg"));
    expect_response(decide({get("/Images/3d-center.svg", "inspector.test:9")}),
                    refusal(403, false));
}

// Whether the connection carries on after the answer, and the Connection field that says so.
TEST(Respond, KeepsTheConnectionOnlyWhenTheRequestAllowsAndHasNoBody) {
    struct Case {
        Request request;
        int status;
        bool closes;
        std::optional<std::string_view> connection;
    };
    const std::string file = "/Images/3d-center.svg";
    const Case cases[] = {
        {{get(file)}, 200, false, std::nullopt},
        {{get(file), false}, 200, true, "close"},
        {{"GET " + file + " HTTP/1.0\r\nHost: 127.0.0.1"}, 200, true, std::nullopt},
        {{"GET " + file + " HTTP/1.0\r\nHost: 127.0.0.1", true}, 200, false, "keep-alive"},
        {{get(file), true, false, 0}, 200, false, std::nullopt},
        {{get(file), true, false, 5}, 200, true, "close"},
        {{get(file), true, true}, 200, true, "close"},
        {{"GET /missing HTTP/1.0\r\nHost: 127.0.0.1", true}, 404, false, "keep-alive"},
        {{"GET /missing HTTP/1.0\r\nHost: evil.example", true}, 403, false, "keep-alive"},
        // A refusal that ends the connection: no keep-alive for HTTP/1.0, "close" for HTTP/1.1.
        {{"GET " + file + " HTTP/1.0", true}, 400, true, std::nullopt},
        {{"PUT " + file + " HTTP/1.1\r\nHost: 127.0.0.1"}, 405, true, "close"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request.text);
        const Decision decision = decide(c.request);
        const auto* response = std::get_if<Response>(&decision);
        ASSERT_NE(response, nullptr);
        expect_well_formed(*response);
        EXPECT_EQ(response->status, c.status);
        EXPECT_EQ(response->framing.close_after, c.closes);
        EXPECT_EQ(header(*response, "Connection"), c.connection);
        // The answer speaks the request's version.
        EXPECT_EQ(response->framing.version,
                  c.request.text.find("HTTP/1.0") == std::string::npos ? 11U : 10U);
    }
}

// A HEAD is answered with the head a GET would get, and nothing after it.
TEST(Respond, HeadSendsTheHeadAGetWouldGetAndNoBody) {
    for (const std::string& target : std::vector<std::string>{
             "/js_app.html", "/" + std::string(LARGEST_FILE), "/inspector.html?ws=x",
             "/quelby-host/frontend_host.js", "/", "/missing"}) {
        SCOPED_TRACE(target);
        const Decision get_decision = decide({get(target)});
        const Decision head_decision = decide({"HEAD" + get(target).substr(3)});
        const auto& got = std::get<Response>(get_decision);
        const auto& head = std::get<Response>(head_decision);
        expect_well_formed(head);
        EXPECT_TRUE(head.framing.head_only);
        EXPECT_FALSE(got.framing.head_only);
        EXPECT_EQ(sent_body(head), std::nullopt);
        EXPECT_EQ(head.status, got.status);
        EXPECT_EQ(header_names(head), header_names(got));
        for (const Field& field : got.headers) {
            EXPECT_EQ(header(head, field.name), field.value) << field.name;
        }
        EXPECT_EQ(head.content_length, got.content_length);
        EXPECT_EQ(head.framing.close_after, got.framing.close_after);
    }
}

TEST(Respond, RootRedirectsToWhereItLeads) {
    for (const std::string_view target : {"/", "//", "/?x=1", "http://127.0.0.1/"}) {
        SCOPED_TRACE(target);
        const Decision decision = decide({get(target)});
        expect_response(decision, {.status = 302,
                                   .fields = {{"Location", std::string(ROOT_LOCATION)},
                                              {"Cache-Control", "no-store"},
                                              {"Content-Type", std::nullopt}},
                                   .body = ""});
        const auto& response = std::get<Response>(decision);
        EXPECT_EQ(response.content_length, 0U);
        EXPECT_EQ(header_names(response),
                  (std::vector<std::string_view>{"Date", "X-Content-Type-Options", "Location",
                                                 "Cache-Control"}));
    }
}

// With a lookup, "/" waits for it; the redirect is then made as it would have been at once.
TEST(Respond, RootWithALookupWaitsForItWithTheRequestsFraming) {
    const ServeContext looking = context(std::nullopt);
    const std::pair<Request, Framing> cases[] = {
        {{get("/")}, {.version = 11, .head_only = false, .close_after = false}},
        {{"HEAD / HTTP/1.1\r\nHost: 127.0.0.1"},
         {.version = 11, .head_only = true, .close_after = false}},
        {{"GET / HTTP/1.0\r\nHost: 127.0.0.1"},
         {.version = 10, .head_only = false, .close_after = true}},
        {{"GET /?a=b HTTP/1.0\r\nHost: 127.0.0.1", true},
         {.version = 10, .head_only = false, .close_after = false}},
    };
    for (const auto& [request, framing] : cases) {
        SCOPED_TRACE(request.text);
        const Decision decision = decide(request, looking);
        const auto* follow = std::get_if<FollowRoot>(&decision);
        ASSERT_NE(follow, nullptr) << decision.index();
        EXPECT_EQ(follow->framing.version, framing.version);
        EXPECT_EQ(follow->framing.head_only, framing.head_only);
        EXPECT_EQ(follow->framing.close_after, framing.close_after);

        const Response later = redirect_response(follow->framing, "/elsewhere", DATE);
        const Decision at_once = decide(request, context("/elsewhere"));
        const auto& direct = std::get<Response>(at_once);
        expect_well_formed(later);
        EXPECT_EQ(later.status, direct.status);
        EXPECT_EQ(header_names(later), header_names(direct));
        EXPECT_EQ(header(later, "Location"), "/elsewhere");
        EXPECT_EQ(header(later, "Connection"), header(direct, "Connection"));
        EXPECT_EQ(later.content_length, direct.content_length);
        EXPECT_EQ(later.framing.head_only, direct.framing.head_only);
    }
    // Everything else is answered at once, the lookup or not.
    expect_response(decide({get("/Images/3d-center.svg")}, looking),
                    served_file("Images/3d-center.svg"));
}

TEST(Respond, ServesTheEmbeddersPagesUncached) {
    const std::pair<std::string, std::pair<std::string_view, std::string_view>> cases[] = {
        {"/inspector.html?ws=127.0.0.1:9229/abc&host=" + std::string(SECRET),
         {START_PAGE, "text/html; charset=utf-8"}},
        {"/inspector.html", {START_PAGE, "text/html; charset=utf-8"}},
        {"/quelby-host/frontend_host.js", {HOST_SCRIPT, "text/javascript; charset=utf-8"}},
    };
    for (const auto& [target, page] : cases) {
        SCOPED_TRACE(target);
        const Decision decision = decide({get(target)});
        expect_response(decision, {.status = 200,
                                   .fields = {{"Content-Type", std::string(page.second)},
                                              {"Cache-Control", "no-store"},
                                              {"ETag", std::nullopt}},
                                   .body = std::string(page.first)});
        EXPECT_EQ(header_names(std::get<Response>(decision)),
                  (std::vector<std::string_view>{"Date", "X-Content-Type-Options", "Content-Type",
                                                 "Cache-Control"}));
    }
    expect_response(decide({"POST /inspector.html HTTP/1.1\r\nHost: 127.0.0.1"}),
                    refusal(405, true));
}

// A local file is read only for a request with the run's secret, and only from a file: URL.
TEST(Respond, ReadsLocalFilesOnlyWithTheRunsSecret) {
    const std::string secret(SECRET);
    const std::string url = "file:///tmp/app%20js.map";
    const std::pair<std::string, int> refused[] = {
        {"url=" + url, 403},
        {"host=&url=" + url, 403},
        {"host=" + std::string(32, '0') + "&url=" + url, 403},
        {"host=" + secret.substr(1) + "&url=" + url, 403},
        {"host=" + secret + "x&url=" + url, 403},
        {"host=%zz&url=" + url, 403},
        {"host=" + secret + "&url=http://127.0.0.1:1/x", 400},
        {"host=" + secret + "&url=FILE:///tmp/x", 400},
        {"host=" + secret, 400},
    };
    for (const auto& [query, status] : refused) {
        SCOPED_TRACE(query);
        expect_response(decide({get("/quelby-host/file?" + query)}),
                        refusal(status, status != 403));
    }

    const std::pair<Request, Framing> read[] = {
        {{get("/quelby-host/file?host=" + secret + "&url=" + url)},
         {.version = 11, .head_only = false, .close_after = false}},
        {{get("/quelby-host/file?url=" + url + "&host=" + secret + "#x")},
         {.version = 11, .head_only = false, .close_after = false}},
        {{"HEAD /quelby-host/file?host=" + secret + "&url=" + url + " HTTP/1.0\r\nHost: [::1]"},
         {.version = 10, .head_only = true, .close_after = true}},
    };
    for (const auto& [request, framing] : read) {
        SCOPED_TRACE(request.text);
        const Decision decision = decide(request);
        const auto* local = std::get_if<ReadLocalFile>(&decision);
        ASSERT_NE(local, nullptr) << decision.index();
        EXPECT_EQ(local->url, "file:///tmp/app js.map");  // percent-decoded
        EXPECT_EQ(local->framing.version, framing.version);
        EXPECT_EQ(local->framing.head_only, framing.head_only);
        EXPECT_EQ(local->framing.close_after, framing.close_after);
    }
    // The embedder's routes are paths: a target in absolute form is looked up among the files.
    expect_response(
        decide({get("http://127.0.0.1/quelby-host/file?host=" + secret + "&url=" + url)}),
        refusal(404, false));
}

TEST(LocalFileResponse, SendsTheTextOrTheNetworkErrorUncached) {
    const Framing kept{.version = 11, .head_only = false, .close_after = false};
    const Response read = local_file_response(kept, "{\"version\":3}", DATE);
    expect_well_formed(read);
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(sent_body(read), "{\"version\":3}");
    EXPECT_EQ(header(read, "Content-Type"), PLAIN_TEXT);
    EXPECT_EQ(header(read, "Cache-Control"), "no-store");
    EXPECT_EQ(header(read, "X-Net-Error"), std::nullopt);
    EXPECT_FALSE(read.framing.close_after);

    // A failed read keeps the connection as the request allows, whatever its status.
    for (const int status : {404, 500}) {
        const Response failed =
            local_file_error_response(kept, status, "-6 net::ERR_FILE_NOT_FOUND", DATE);
        expect_well_formed(failed);
        EXPECT_EQ(failed.status, status);
        EXPECT_EQ(header(failed, "X-Net-Error"), "-6 net::ERR_FILE_NOT_FOUND");
        EXPECT_EQ(sent_body(failed), "-6 net::ERR_FILE_NOT_FOUND");
        EXPECT_EQ(header_names(failed),
                  (std::vector<std::string_view>{"Date", "X-Content-Type-Options", "X-Net-Error",
                                                 "Content-Type", "Cache-Control"}));
        EXPECT_FALSE(failed.framing.close_after);
    }
    const Response head = local_file_error_response(
        {.version = 10, .head_only = true, .close_after = true}, 404, "-6 x", DATE);
    expect_well_formed(head);
    EXPECT_EQ(sent_body(head), std::nullopt);
    EXPECT_EQ(head.content_length, 4U);
}

// A head the parser could not read: 414 when it broke off inside the request target, else 431
// for one too large, 413 for a body announced too large, 400 for one that is not HTTP; always in
// HTTP/1.1, with a body, and the connection ends.
TEST(Refuse, AnswersHeadsThatCouldNotBeRead) {
    const std::string long_target = "GET /" + std::string(SERVE_HEADER_LIMIT, 'a');
    const std::tuple<UnreadableHead, std::string, int> cases[] = {
        {UnreadableHead::TooLarge, long_target, 414},
        {UnreadableHead::TooLarge, long_target + " HTTP/1.1", 431},
        {UnreadableHead::TooLarge, long_target + " HTTP/1.1\r\nX: vvv", 431},
        {UnreadableHead::TooLarge, "GET /a HTTP/1.1\r\nX: " + std::string(100, 'v'), 431},
        {UnreadableHead::TooLarge, std::string(SERVE_HEADER_LIMIT, 'G'), 431},
        {UnreadableHead::BodyTooLarge, "POST / HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n", 413},
        {UnreadableHead::BodyTooLarge, long_target, 413},
        {UnreadableHead::Malformed, "NOT HTTP AT ALL\r\n\r\n", 400},
        {UnreadableHead::Malformed, "HEAD /js_app.html HTTP/9.9\r\n\r\n", 400},
    };
    for (const auto& [why, unparsed, status] : cases) {
        SCOPED_TRACE(unparsed.substr(0, 60));
        const Response response = refuse(why, unparsed, DATE);
        expect_response(response, refusal(status, true));
        EXPECT_EQ(response.framing.version, 11U);
        EXPECT_EQ(header_names(response),
                  (std::vector<std::string_view>{"Date", "X-Content-Type-Options", "Connection",
                                                 "Content-Type"}));
    }
}

TEST(Respond, ARefusalsFieldsComeInTheirOrder) {
    const Decision decision = decide({"PUT / HTTP/1.1\r\nHost: 127.0.0.1"});
    EXPECT_EQ(header_names(std::get<Response>(decision)),
              (std::vector<std::string_view>{"Date", "X-Content-Type-Options", "Connection",
                                             "Allow", "Content-Type"}));
    const Decision kept = decide({get("/missing")});
    EXPECT_EQ(header_names(std::get<Response>(kept)),
              (std::vector<std::string_view>{"Date", "X-Content-Type-Options", "Content-Type"}));
}

}  // namespace
}  // namespace quelby::serve
