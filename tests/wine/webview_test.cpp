// The Win32 host against the runtime double (fake_webview2_runtime.cpp) in this process: what the
// host hands the runtime when it builds a web view, posts to the page and zooms. The double is
// found as a fixed-version runtime beside this program (tests_wine\fake_runtime).
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "quelby/core/wide_text_win32.h"
#include "quelby/webview_host/host.h"
#include "webview2_page_channel.h"
#include "win32_state.h"

namespace quelby::webview_host {
namespace {

// Also run by scripts/test_windows.sh with QUELBY_FAKE_RUNTIME_SCRIPTS, which hands the scripts
// this build gives the runtime to tests/wine/document_scripts_check.js: keep the two in step.
constexpr char PAGE_SCRIPT[] = "window.pageScriptSaw = typeof window.ipc + ' \xe2\x9c\x93'";
constexpr char TOP_DOCUMENT_SCRIPT[] =
    "window.topDocumentScriptSaw = typeof window.ipc // a last line that is a comment";

struct Call {
    std::wstring method;
    std::wstring text;
    double number = 0;
};

using CallOfDouble = bool (*)(int, const wchar_t**, const wchar_t**, double*);

// The calls the double recorded since the web view's environment was created.
std::vector<Call> runtime_calls() {
    const HMODULE runtime = GetModuleHandleW(L"EmbeddedBrowserWebView.dll");
    if (runtime == nullptr) {
        ADD_FAILURE() << "the runtime double is not loaded";
        return {};
    }
    const auto call_of = reinterpret_cast<CallOfDouble>(
        reinterpret_cast<void*>(GetProcAddress(runtime, "quelby_fake_runtime_call")));
    if (call_of == nullptr) {
        ADD_FAILURE() << "the runtime double does not record calls";
        return {};
    }
    std::vector<Call> calls;
    const wchar_t* method = nullptr;
    const wchar_t* text = nullptr;
    double number = 0;
    for (int i = 0; call_of(i, &method, &text, &number); ++i) {
        calls.push_back({method, text, number});
    }
    return calls;
}

std::vector<Call> calls_of(const std::vector<Call>& calls, std::wstring_view method) {
    std::vector<Call> matching;
    for (const Call& call : calls) {
        if (call.method == method) {
            matching.push_back(call);
        }
    }
    return matching;
}

std::string last_message(const ErrorChain& error) {
    return error.messages().empty() ? std::string{} : error.messages().back();
}

class OnRuntimeDouble : public ::testing::Test {
  protected:
    void SetUp() override {
        // Relative: taken from this program's folder, as the program takes it from its own.
        SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", L"fake_runtime");
        auto created = create_window(loop_, WindowAttributes{.title = "web view test"});
        ASSERT_TRUE(created) << last_message(created.error());
        window_.emplace(std::move(*created));
    }

    static WebViewBuilder devtools_builder() {
        WebViewBuilder builder;
        builder.register_scheme("devtools", [](std::string_view, const Request&, Responder) {})
            .set_url("devtools://localhost/js_app.html");
        return builder;
    }

    EventLoop loop_ = create_event_loop();
    std::optional<Window> window_;
};

TEST_F(OnRuntimeDouble, BuildZoomsThenAddsTheScriptsInOrderThenNavigates) {
    auto web_view = devtools_builder()
                        .on_page_diagnostic([](std::string_view) {})
                        .add_page_script(PAGE_SCRIPT)
                        .add_top_document_script(TOP_DOCUMENT_SCRIPT)
                        .set_zoom_factor(1.25)
                        .build(*window_);
    ASSERT_TRUE(web_view) << last_message(web_view.error());
    const std::vector<Call> calls = runtime_calls();
    ASSERT_GE(calls.size(), 3U);
    EXPECT_EQ(calls.front().method, L"put_ZoomFactor");
    EXPECT_EQ(calls.front().number, 1.25);
    EXPECT_EQ(calls.back().method, L"Navigate");
    EXPECT_EQ(calls.back().text, L"http://devtools.localhost/js_app.html");

    // Diagnostics first, to see the failures of everything after it; then window.ipc, which the
    // page's scripts may use; the top-document script only where window is window.top.
    const std::vector<Call> scripts = calls_of(calls, L"AddScriptToExecuteOnDocumentCreated");
    ASSERT_EQ(scripts.size(), 4U);
    EXPECT_NE(scripts[0].text.find(L"host-diagnostics"), std::wstring::npos) << scripts[0].text;
    EXPECT_EQ(scripts[1].text, utf8_to_wide(webview2::ipc_script()));
    EXPECT_EQ(scripts[2].text, L"window.pageScriptSaw = typeof window.ipc + ' \u2713'");
    EXPECT_EQ(scripts[3].text, utf8_to_wide(webview2::top_document_script(TOP_DOCUMENT_SCRIPT)));
    EXPECT_TRUE(scripts[3].text.starts_with(L"if (window === window.top) {")) << scripts[3].text;
}

TEST_F(OnRuntimeDouble, ZoomReachesTheControllerAndARefusedFactorIsAnError) {
    auto web_view = devtools_builder().build(*window_);
    ASSERT_TRUE(web_view) << last_message(web_view.error());
    ASSERT_TRUE(set_zoom_factor(*web_view, 2.5));
    ASSERT_TRUE(set_zoom_factor(*web_view, 0.5));
    const auto zooms = calls_of(runtime_calls(), L"put_ZoomFactor");
    ASSERT_EQ(zooms.size(), 3U);
    EXPECT_EQ(zooms[0].number, 1.0);  // the builder's default
    EXPECT_EQ(zooms[1].number, 2.5);
    EXPECT_EQ(zooms[2].number, 0.5);

    // The runtime refuses a factor that is not above 0 with E_INVALIDARG.
    const Status refused = set_zoom_factor(*web_view, 0.0);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(last_message(refused.error()).starts_with("WebView2 error: HRESULT 0x80070057"))
        << last_message(refused.error());
}

TEST_F(OnRuntimeDouble, ARefusedStartZoomFailsTheBuild) {
    auto web_view = devtools_builder().set_zoom_factor(-1.0).build(*window_);
    ASSERT_FALSE(web_view);
    EXPECT_TRUE(last_message(web_view.error()).starts_with("WebView2 error: HRESULT 0x80070057"))
        << last_message(web_view.error());
    EXPECT_TRUE(calls_of(runtime_calls(), L"Navigate").empty());
}

TEST_F(OnRuntimeDouble, PostToPageHandsTheRuntimeUtf16InTheOrderPosted) {
    auto web_view = devtools_builder().build(*window_);
    ASSERT_TRUE(web_view) << last_message(web_view.error());
    const std::vector<std::string> posted = {
        R"({"id":1,"result":"plain"})",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",  // 2-, 3- and 4-byte sequences
        "a\xff\xc3"
        "b",  // a byte that starts nothing, and a sequence cut short
        "",
    };
    for (const std::string& text : posted) {
        ASSERT_TRUE(post_to_page(*web_view, text));
    }
    const auto messages = calls_of(runtime_calls(), L"PostWebMessageAsString");
    ASSERT_EQ(messages.size(), 4U);
    EXPECT_EQ(messages[0].text, L"{\"id\":1,\"result\":\"plain\"}");
    EXPECT_EQ(messages[1].text, std::wstring(L"caf\u00e9 \u20ac \U0001F600"));
    EXPECT_EQ(messages[2].text, L"a\ufffd\ufffdb");
    EXPECT_EQ(messages[3].text, L"");
}

}  // namespace
}  // namespace quelby::webview_host
