#include "quelby/discovery/target_list_json.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quelby {
namespace {

constexpr const char* NODE_LIST = R"([ {
  "description": "node.js instance",
  "devtoolsFrontendUrl": "devtools://devtools/bundled/js_app.html?experiments=true&v8only=true&ws=127.0.0.1:9229/0f2c5e4a",
  "id": "0f2c5e4a",
  "title": "demo.js",
  "type": "node",
  "url": "file:///demo.js",
  "webSocketDebuggerUrl": "ws://127.0.0.1:9229/0f2c5e4a-1b2c-4d5e-8f90-123456789abc"
} ]
)";

TEST(ExtractWsTarget, TakesTheFirstTargetsUrlWithoutItsScheme) {
    struct Case {
        std::string body;
        std::string target;
    };
    const std::vector<Case> cases = {
        {NODE_LIST, "127.0.0.1:9229/0f2c5e4a-1b2c-4d5e-8f90-123456789abc"},
        {R"([{"webSocketDebuggerUrl":"ws://127.0.0.1:9229/abc"}])", "127.0.0.1:9229/abc"},
        {R"([{"webSocketDebuggerUrl":"wss://host/abc"}])", "host/abc"},
        {R"([{"webSocketDebuggerUrl":"http://host/abc"}])", "http://host/abc"},
        {R"([{"webSocketDebuggerUrl":"WS://host/abc"}])", "WS://host/abc"},
        {R"([{"webSocketDebuggerUrl":"ws://"}])", ""},
        {R"([{"webSocketDebuggerUrl":"ws://ws://x"}])", "ws://x"},
        {R"([{"webSocketDebuggerUrl":""}])", ""},
        {R"([{"webSocketDebuggerUrl":"ws:\/\/a\u0026b"}])", "a&b"},
        {R"([{"a":{"webSocketDebuggerUrl":"ws://inner"},"webSocketDebuggerUrl":"ws://outer"}])",
         "outer"},
        {R"([{"webSocketDebuggerUrl":"ws://first"}, {"webSocketDebuggerUrl":"ws://second"}])",
         "first"},
        {R"([{"webSocketDebuggerUrl":1,"webSocketDebuggerUrl":"ws://last"}])", "last"},
        {" \t\r\n[{\"webSocketDebuggerUrl\":\"ws://x\"}] \t\r\n", "x"},
        {R"([{"webSocketDebuggerUrl":"ws://x"}, 1, [], {}, null])", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto target = extract_ws_target(c.body);
        ASSERT_TRUE(target.has_value()) << format_report(target.error());
        EXPECT_EQ(*target, c.target);
    }
}

TEST(ExtractWsTarget, QuotesTheWholeBodyWhenTheFirstTargetHasNoUrl) {
    const std::vector<std::string> bodies = {
        "[]",
        "{}",
        R"({"webSocketDebuggerUrl":"ws://x"})",
        R"([{"id":"a"},{"webSocketDebuggerUrl":"ws://second"}])",
        "[1]",
        R"([[{"webSocketDebuggerUrl":"ws://x"}]])",
        R"([{"webSocketDebuggerUrl":null}])",
        R"([{"webSocketDebuggerUrl":5}])",
        R"([{"webSocketDebuggerUrl":["ws://x"]}])",
        R"([{"webSocketDebuggerUrl":{"a":"ws://x"}}])",
        R"([{"webSocketDebuggerUrl":"ws://x","webSocketDebuggerUrl":null}])",
        R"([{"websocketdebuggerurl":"ws://x"}])",
        "\"ws://x\"",
        "null",
        "[\n  ]\n",
    };
    for (const auto& body : bodies) {
        SCOPED_TRACE(body);
        const auto target = extract_ws_target(body);
        ASSERT_FALSE(target.has_value());
        EXPECT_EQ(target.error().messages(),
                  std::vector<std::string>{"no webSocketDebuggerUrl in inspector /json: " + body});
    }
}

TEST(ExtractWsTarget, ReportsParseErrorsWithLineAndColumn) {
    struct Case {
        std::string body;
        std::string suffix;  // the parser message's end
    };
    const std::vector<Case> cases = {
        {"", " at line 1 column 1"},
        {"[] x", " at line 1 column 4"},
        {"[\n  1,\n  x\n]", " at line 3 column 3"},
        {"[", " at line 1 column 2"},
        {"[1,]", " at line 1 column 4"},
        {"\"\\ud800\"", " at line 1 column 8"},
        {"[]\n\n{}", " at line 3 column 1"},
        // The parser stops at a NUL as if the input ended there; what follows must not pass.
        {std::string("[{\"webSocketDebuggerUrl\":\"ws://a\"}]\0 x", 38), " at line 1 column 36"},
        {"[1e400]", " at line 1 column 6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto target = extract_ws_target(c.body);
        ASSERT_FALSE(target.has_value());
        const auto& messages = target.error().messages();
        ASSERT_EQ(messages.size(), 2U);
        EXPECT_EQ(messages[0], "inspector /json was not valid JSON");
        ASSERT_TRUE(messages[1].ends_with(c.suffix)) << messages[1];
        // A description of the fault precedes the position, without nlohmann's own prefix.
        EXPECT_GT(messages[1].size(), c.suffix.size());
        EXPECT_EQ(messages[1].find("[json.exception"), std::string::npos) << messages[1];
    }
}

TEST(JsonErrorMessage, CountsLinesAndColumnsFromOne) {
    EXPECT_EQ(json_error_message("abc", 1, "bad"), "bad at line 1 column 1");
    EXPECT_EQ(json_error_message("abc", 3, "bad"), "bad at line 1 column 3");
    EXPECT_EQ(json_error_message("abc", 4, "end"), "end at line 1 column 4");
    EXPECT_EQ(json_error_message("a\nbc", 4, "bad"), "bad at line 2 column 2");
    EXPECT_EQ(json_error_message("a\n", 3, "end"), "end at line 2 column 1");
    EXPECT_EQ(json_error_message("", 0, "x"), "x at line 1 column 1");
}

// Three targets as an embedder might list them; the second has no address of its own.
constexpr std::string_view THREE = R"([
  {"id": "a1", "type": "node", "title": "main.js", "url": "file:///srv/main.js",
   "webSocketDebuggerUrl": "ws://127.0.0.1:9229/a1"},
  {"id": "b2", "type": "worker", "title": "Worker \u001b[31m", "url": "file:///srv/w.js"},
  {"id": "c3", "type": "node", "title": "tests", "url": "file:///srv/tests/run.js",
   "webSocketDebuggerUrl": "wss://127.0.0.1:9229/c3"}
])";

TEST(SelectTarget, ByIndexThenIdThenTitleOrUrlText) {
    struct Case {
        std::optional<std::string> selector;
        std::string target;
        bool secure;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "127.0.0.1:9229/a1", false},
        {"", "127.0.0.1:9229/a1", false},
        {"0", "127.0.0.1:9229/a1", false},
        {"2", "127.0.0.1:9229/c3", true},
        {"c3", "127.0.0.1:9229/c3", true},
        {"TESTS", "127.0.0.1:9229/c3", true},      // title, letter case ignored
        {"tests/run", "127.0.0.1:9229/c3", true},  // url
        {"srv", "127.0.0.1:9229/a1", false},       // the first that matches
        {"main", "127.0.0.1:9229/a1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector.value_or("(none)"));
        const auto chosen = select_target(THREE, c.selector);
        ASSERT_TRUE(chosen.has_value()) << format_report(chosen.error());
        EXPECT_EQ(chosen->address, c.target);
        EXPECT_EQ(chosen->secure, c.secure);
    }
    // Chosen but without an address: the message of the first target without one.
    for (const std::string selector : {"1", "b2", "Worker"}) {
        const auto chosen = select_target(THREE, selector);
        ASSERT_FALSE(chosen.has_value());
        EXPECT_EQ(chosen.error().messages(),
                  std::vector<std::string>{std::string(NO_WS_URL_PREFIX) + std::string(THREE)});
    }
    // An index beyond the list is looked for as an id and as text.
    const std::string numbered =
        R"([{"id":"x","url":"http://h:9229/","webSocketDebuggerUrl":"ws://n"}])";
    EXPECT_EQ(select_target(numbered, "9229")->address, "n");
}

TEST(SelectTarget, NoMatchListsTheTargetsOnePerLineEscaped) {
    const auto none = select_target(THREE, "\x1b]nope");
    ASSERT_FALSE(none.has_value());
    EXPECT_EQ(
        none.error().messages(),
        std::vector<std::string>{
            "no target matches \"<U+001B>]nope\"; the inspector lists these:\n"
            "0: id \"a1\", type \"node\", title \"main.js\", url \"file:///srv/main.js\"\n"
            "1: id \"b2\", type \"worker\", title \"Worker <U+001B>[31m\", url "
            "\"file:///srv/w.js\"\n"
            "2: id \"c3\", type \"node\", title \"tests\", url \"file:///srv/tests/run.js\""});

    EXPECT_EQ(select_target("[]", "x").error().messages(),
              std::vector<std::string>{"no target matches \"x\"; the inspector lists no targets"});
    // Members that are missing or not text; elements that are not targets keep their index.
    EXPECT_EQ(select_target(R"([1, {"id": 5, "title": null}])", "x").error().messages(),
              std::vector<std::string>{"no target matches \"x\"; the inspector lists these:\n"
                                       "1: id (none), type (none), title (none), url (none)"});
}

TEST(SelectTarget, BoundsTheListingOfAHugeList) {
    std::string body = "[";
    const std::string long_title(300, 't');
    for (int i = 0; i < 150; ++i) {
        body += std::string(i == 0 ? "" : ",") + R"({"id":")" + std::to_string(i) +
                R"(","title":")" + long_title + R"("})";
    }
    body += "]";
    const auto none = select_target(body, "nothing");
    ASSERT_FALSE(none.has_value());
    const std::string& message = none.error().messages().front();
    EXPECT_EQ(std::ranges::count(message, '\n'), 101);
    EXPECT_TRUE(message.ends_with("\n… and 50 more")) << message.substr(message.size() - 100);
    // Each text is cut after 200 bytes.
    EXPECT_NE(message.find("title \"" + std::string(200, 't') + "…\", url"), std::string::npos);
    EXPECT_EQ(message.find(std::string(201, 't')), std::string::npos);
}

}  // namespace
}  // namespace quelby
