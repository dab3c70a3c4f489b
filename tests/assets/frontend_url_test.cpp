#include "quelby/assets/frontend_url.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quelby {
namespace {

TEST(FrontendUrl, DefaultsToTheEmbeddedFrontEndOrFillsTheTemplate) {
    struct Case {
        std::string ws;
        std::optional<std::string> tmpl;
        std::string url;
    };
    const std::vector<Case> cases = {
        {"127.0.0.1:9229/0f2c5e4a-1b2c-4d5e-8f90-123456789abc", std::nullopt,
         "http://devtools.localhost/js_app.html?ws=127.0.0.1:9229/"
         "0f2c5e4a-1b2c-4d5e-8f90-123456789abc"
         "&experiments=true&v8only=true"},
        {"", std::nullopt,
         "http://devtools.localhost/js_app.html?ws=&experiments=true&v8only=true"},
        {"a&b#c", std::nullopt,
         "http://devtools.localhost/js_app.html?ws=a&b#c&experiments=true&v8only=true"},
        {"H:1/x", "http://127.0.0.1:8080/inspector.html?ws={ws}&x={ws}",
         "http://127.0.0.1:8080/inspector.html?ws=H:1/x&x=H:1/x"},
        {"H", "", ""},
        {"H", "no placeholder", "no placeholder"},
        {"H", "{ws}", "H"},
        {"H", "{ws}{ws}", "HH"},
        {"H", "{{ws}}", "{H}"},
        {"H", "{ws", "{ws"},
        {"H", "{w{ws}s}", "{wHs}"},
        {"{ws}", "a{ws}b", "a{ws}b"},  // the inserted text is not searched again
        {"x", "{WS}", "{WS}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tmpl.value_or("(unset)"));
        EXPECT_EQ(frontend_url_from({c.ws, false}, c.tmpl), c.url);
    }
    // A wss:// target asks the front end for TLS; a template is the user's to write.
    EXPECT_EQ(frontend_url_from({"h/x", true}, std::nullopt),
              "http://devtools.localhost/js_app.html?wss=h/x&experiments=true&v8only=true");
    EXPECT_EQ(frontend_url_from({"h/x", true}, "t={ws}"), "t=h/x");
}

TEST(FrontendUrl, IsBoundedAtOneMebibyte) {
    // Template: 4 fixed bytes + 2 placeholders; exactly at the bound, then one byte over.
    const std::string tmpl = "a{ws}bc{ws}d";
    const std::string at_bound((FRONTEND_URL_LIMIT - 4) / 2, 'w');
    const auto fits = frontend_url_from({at_bound, false}, tmpl);
    ASSERT_TRUE(fits.has_value());
    EXPECT_EQ(fits->size(), FRONTEND_URL_LIMIT);
    const auto over = frontend_url_from({at_bound + "w", false}, tmpl);
    ASSERT_FALSE(over.has_value());
    EXPECT_EQ(over.error().messages().front(),
              "the front-end URL would be 1048578 bytes, over the 1 MiB bound (1048576 bytes) "
              "(QUELBY_INSPECTOR_FRONTEND has 2 \"{ws}\" and the ws target is 524287 bytes)");
    // A template over the bound by itself, and sizes past 64 bits, are refused as well.
    EXPECT_FALSE(
        frontend_url_from({"", false}, std::string(FRONTEND_URL_LIMIT + 1, 'x')).has_value());
    std::string many;
    for (int i = 0; i < 1000; ++i) {
        many += "{ws}";
    }
    EXPECT_FALSE(
        frontend_url_from({std::string(FRONTEND_URL_LIMIT, 'w'), false}, many).has_value());
    // The default address: 41 + target + 29 bytes.
    const std::string base = "http://devtools.localhost/js_app.html?ws=";
    const std::size_t room = FRONTEND_URL_LIMIT - base.size() - FRONTEND_QUERY_TAIL.size();
    EXPECT_TRUE(frontend_url_from({std::string(room, 'w'), false}, std::nullopt).has_value());
    const auto default_over = frontend_url_from({std::string(room + 1, 'w'), false}, std::nullopt);
    ASSERT_FALSE(default_over.has_value());
    EXPECT_TRUE(default_over.error().messages().front().starts_with(
        frontend_url_too_long_message(FRONTEND_URL_LIMIT + 1)));
}

TEST(FrontendUrl, ReadsTheEnvironmentAndIgnoresInvalidUnicode) {
    ::setenv("QUELBY_INSPECTOR_FRONTEND", "t={ws}", 1);
    EXPECT_EQ(frontend_url({"W", false}), "t=W");
    ::setenv("QUELBY_INSPECTOR_FRONTEND", "", 1);
    EXPECT_EQ(frontend_url({"W", false}), "");
    ::setenv("QUELBY_INSPECTOR_FRONTEND", "bad\xFF{ws}", 1);
    EXPECT_EQ(frontend_url({"W", false}),
              "http://devtools.localhost/js_app.html?ws=W&experiments=true&v8only=true");
    ::unsetenv("QUELBY_INSPECTOR_FRONTEND");
    EXPECT_EQ(frontend_url({"W", false}),
              "http://devtools.localhost/js_app.html?ws=W&experiments=true&v8only=true");
}

}  // namespace
}  // namespace quelby
