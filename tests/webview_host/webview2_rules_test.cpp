// The WebView2 backend's portable rules: URI mapping, header filtering, response text, language
// tag and runtime search. Built natively and, in the Windows build, run under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "webview2_environment_rules.h"
#include "webview2_page_channel.h"
#include "webview2_scheme_rules.h"

namespace quelby::webview_host::webview2 {
namespace {

TEST(SchemeUri, MapsEveryInterceptedFormToTheSchemesOwnForm) {
    EXPECT_EQ(
        to_scheme_uri("http://devtools.localhost/js_app.html?ws=127.0.0.1:9229/x", "devtools"),
        "devtools://localhost/js_app.html?ws=127.0.0.1:9229/x");
    // Every occurrence, not just the first (e.g. a URL quoted in the query).
    EXPECT_EQ(
        to_scheme_uri("http://devtools.localhost/a?next=http://devtools.localhost/b", "devtools"),
        "devtools://localhost/a?next=devtools://localhost/b");
    EXPECT_EQ(to_scheme_uri("http://devtools.", "devtools"), "devtools://");
}

TEST(SchemeUri, LeavesOtherAddressesAlone) {
    EXPECT_EQ(to_scheme_uri("https://devtools.localhost/a", "devtools"),
              "https://devtools.localhost/a");
    EXPECT_EQ(to_scheme_uri("http://devtoolsx.localhost/a", "devtools"),
              "http://devtoolsx.localhost/a");
    EXPECT_EQ(to_scheme_uri("http://example.com/", "devtools"), "http://example.com/");
    EXPECT_EQ(to_scheme_uri("", "devtools"), "");
}

TEST(NavigationUrl, RewritesOnlyRegisteredSchemes) {
    const std::vector<std::string> schemes{"devtools"};
    EXPECT_EQ(to_navigation_url("devtools://localhost/js_app.html?ws=a", schemes),
              "http://devtools.localhost/js_app.html?ws=a");
    EXPECT_EQ(to_navigation_url("http://devtools.localhost/x", schemes),
              "http://devtools.localhost/x");
    EXPECT_EQ(to_navigation_url("https://example.com/devtools://x", schemes),
              "https://example.com/devtools://x");
    EXPECT_EQ(to_navigation_url("devtools:/x", schemes), "devtools:/x");
    EXPECT_EQ(to_navigation_url("other://x", schemes), "other://x");
    EXPECT_EQ(to_navigation_url("devtools://x", {}), "devtools://x");
}

TEST(HeaderLines, OneLinePerSendableHeaderInOrder) {
    const std::vector<ResponseHeader> headers{
        {"Content-Type", "text/javascript"},
        {"X-Bad", "line\r\nSet-Cookie: stolen"},
        {"Cache-Control", "no-cache"},
        {"X-Empty", ""},
        {"Bad:Name", "v"},
    };
    EXPECT_EQ(header_lines(headers),
              "Content-Type: text/javascript\nCache-Control: no-cache\nX-Empty: \n");
    EXPECT_EQ(header_lines({}), "");
}

TEST(ReasonPhrase, StandardPhraseElseOk) {
    EXPECT_EQ(reason_phrase(200), "OK");
    EXPECT_EQ(reason_phrase(400), "Bad Request");
    EXPECT_EQ(reason_phrase(404), "Not Found");
    EXPECT_EQ(reason_phrase(500), "Internal Server Error");
    EXPECT_EQ(reason_phrase(304), "Not Modified");
    for (const int unknown : {0, -1, 99, 299, 599, 1000}) {
        EXPECT_EQ(reason_phrase(unknown), "OK") << unknown;
    }
}

TEST(LanguageTag, FromWindowsLocaleNames) {
    EXPECT_EQ(language_tag("en-US"), "en-US");
    EXPECT_EQ(language_tag("zh-Hans-CN"), "zh-Hans-CN");
    EXPECT_EQ(language_tag("fr"), "fr");
    EXPECT_EQ(language_tag("de-DE_phoneb"), "de-DE");  // sort order dropped
    // The invariant locale has an empty name; none of these would be accepted by the runtime.
    for (const char* bad :
         {"", "C", "e", "en--US", "-US", "en-", "_US", "1en", "en-US!", "toolonglang"}) {
        EXPECT_EQ(language_tag(bad), "en-US") << bad;
    }
}

TEST(ClientDll, LivesInTheRuntimeFolder) {
    EXPECT_EQ(client_dll_path("C:\\EdgeWebView\\Application\\120.0.1", "x64"),
              "C:\\EdgeWebView\\Application\\120.0.1\\EBWebView\\x64\\EmbeddedBrowserWebView.dll");
    EXPECT_EQ(client_dll_path("C:\\Runtime\\", "arm64"),
              "C:\\Runtime\\EBWebView\\arm64\\EmbeddedBrowserWebView.dll");
}

TEST(ChannelSearch, RuntimeFirstUnlessTheLeastStableIsPreferred) {
    const auto stable_first = channel_search_order(false);
    ASSERT_EQ(stable_first.size(), 4U);
    EXPECT_EQ(stable_first.front(), "{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}");
    const auto least_stable_first = channel_search_order(true);
    ASSERT_EQ(least_stable_first.size(), 4U);
    EXPECT_EQ(least_stable_first.back(), stable_first.front());
    EXPECT_EQ(least_stable_first.front(), stable_first.back());
}

TEST(PageDiagnostics, OnlyMarkedMessagesAreDiagnosticsAndTheScriptMarksThemSo) {
    EXPECT_EQ(diagnostic_text("\x01host-diagnostics\x01uncaught Error: x"),
              std::optional<std::string_view>("uncaught Error: x"));
    EXPECT_EQ(diagnostic_text("\x01host-diagnostics\x01"), std::optional<std::string_view>(""));
    // What the page posts through window.ipc is not a diagnostic.
    EXPECT_EQ(diagnostic_text("uncaught Error: x"), std::nullopt);
    EXPECT_EQ(diagnostic_text("\x01host-diagnostics"), std::nullopt);
    // The script's marker, written as JavaScript escapes, is the one the host looks for.
    const std::string_view channel = DIAGNOSTICS_CHANNEL;
    EXPECT_NE(channel.find(R"('\u0001host-diagnostics\u0001')"), std::string_view::npos) << channel;
}

TEST(InstalledRuntime, DecidedByTheVersionValue) {
    EXPECT_EQ(clients_key("{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"),
              "SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}");
    EXPECT_TRUE(runtime_version_installed("120.0.2210.91"));
    EXPECT_FALSE(runtime_version_installed(""));
    EXPECT_FALSE(runtime_version_installed("0.0.0.0"));  // left behind by an uninstall
}

TEST(FolderVariables, RelativeToTheExecutableNotTheCurrentDirectory) {
    const std::string exe = "C:\\Program Files\\quelby";
    EXPECT_EQ(folder_relative_to_executable("Runtime", exe), "C:\\Program Files\\quelby\\Runtime");
    EXPECT_EQ(folder_relative_to_executable("..\\rt", exe + "\\"),
              "C:\\Program Files\\quelby\\..\\rt");
    EXPECT_EQ(folder_relative_to_executable(".\\data", exe), "C:\\Program Files\\quelby\\.\\data");
    for (const std::string kept :
         {"C:\\rt", "c:/rt", "\\\\server\\share\\rt", "\\rt", "/rt", "D:rt"}) {
        SCOPED_TRACE(kept);
        EXPECT_EQ(folder_relative_to_executable(kept, exe), kept);
    }
    EXPECT_EQ(beside_executable(exe, OFFICIAL_LOADER_DLL),
              "C:\\Program Files\\quelby\\WebView2Loader.dll");
}

TEST(BrowserArguments, TheUsersAreAppendedAfterOurs) {
    EXPECT_EQ(browser_arguments_with("--a --b", "--remote-debugging-port=9222"),
              "--a --b --remote-debugging-port=9222");
    EXPECT_EQ(browser_arguments_with("--a", ""), "--a");
    EXPECT_EQ(browser_arguments_with("", "--x"), "--x");
}

TEST(ErrorText, NamesTheHresultInHexAndTheSystemText) {
    EXPECT_EQ(hresult_error_text(0x80070002U, "The system cannot find the file specified."),
              "WebView2 error: HRESULT 0x80070002 (The system cannot find the file specified.)");
    EXPECT_EQ(hresult_error_text(0x8000FFFFU, ""), "WebView2 error: HRESULT 0x8000FFFF");
}

}  // namespace
}  // namespace quelby::webview_host::webview2
