// The GTK backend in a real web view on a private X server: requests for the private scheme reach
// the program's handler and its answers reach the page intact, whichever way they are given.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gtk_api.h"
#include "quelby/core/byte_text.h"
#include "quelby/webview_host/host.h"
#include "x11/gtk_loop.h"
#include "x11/x_display.h"

// Sanitizer builds: LeakSanitizer crashes while scanning the dynamic TLS of WebKit's threads at
// exit, so leak checking is off in this process; address errors are still caught. (Read only by
// sanitizer runtimes.)
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}

namespace quelby::webview_host {
namespace {

using x11_testing::Clock;
using x11_testing::pump_until;

constexpr std::string_view PAGE = R"(<!doctype html><html><head><script type="module">
import { value } from './module.js';
const results = { module: value };
results.svg = await new Promise(done => {
    const image = new Image();
    image.onload = () => done(image.naturalWidth);
    image.onerror = () => done('error');
    image.src = '/icon.svg';
});
const missing = await fetch('/missing.js');
results.missing = missing.status + ' ' + await missing.text();
const later = await fetch('/later.txt');
results.later = later.status + ' ' + await later.text();
results.dropped = (await fetch('/dropped.txt')).status;
const headers = (await fetch('/headers.txt')).headers;
results.headers = headers.get('x-good') + '|' + headers.get('x-bad') + '|' + headers.get('content-type');
results.ipc = typeof window.ipc.postMessage + ',' + Object.isFrozen(window.ipc);
results.language = navigator.language;
await fetch('/report', { method: 'POST', body: JSON.stringify(results) });
</script></head><body>scheme test</body></html>)";

constexpr std::string_view EXPECTED_REPORT =
    R"({"module":42,"svg":7,"missing":"404 Not Found","later":"200 later","dropped":500,)"
    R"("headers":"fine|null|text/plain","ipc":"function,true","language":"en-US"})";

// A page that saves a file as soon as it loads, the way the front end saves a trace.
constexpr std::string_view DOWNLOAD_PAGE = R"(<!doctype html><html><body><script>
const link = document.createElement('a');
link.download = 'trace.json';
link.href = URL.createObjectURL(new Blob(['downloaded'], { type: 'application/json' }));
document.body.appendChild(link);
link.click();
</script></body></html>)";

// Styles that name their shadow host's context with :host-context(), given every way a page can
// give them (a <style> element's text among them); a selection inside a shadow tree, as the shadow
// root reports it; then each kind of failure a page can report about itself.
constexpr std::string_view PAGE_CHECKS = R"html(<!doctype html><html><body>
<div class="ctx" title="a)"><span id="inside"></span></div>
<span id="self" class="ctx"></span><span id="outside"></span><div id="editor"></div>
<span id="styled"></span>
<script>
const results = {};
const style = document.createElement('style');
style.textContent = '#styled, :host-context(.ctx) b { color: rgb(10, 11, 12) }';
document.head.appendChild(style);
results.styled = getComputedStyle(document.getElementById('styled')).color;
const sheet = new CSSStyleSheet();
sheet.replaceSync(':host-context(.ctx) b { color: rgb(4, 5, 6) } ' +
                  ':host-context([title="a)"]) i { color: rgb(7, 8, 9) }');
try {
  sheet.insertRule(':host-context(.ctx) span { color: rgb(1, 2, 3) }', 0);
  results.insert = 'ok';
} catch (error) {
  results.insert = error.message;
}
const colour = (id, tag) => {
  const root = document.getElementById(id).attachShadow({ mode: 'open' });
  root.innerHTML = '<span>s</span><b>b</b><i>i</i>';
  root.adoptedStyleSheets = [sheet];
  return getComputedStyle(root.querySelector(tag)).color;
};
results.span = colour('inside', 'span');
results.self = colour('self', 'b');
results.outside = colour('outside', 'span');
results.quoted = getComputedStyle(document.getElementById('inside').shadowRoot.querySelector('i')).color;
results.selection = (() => {
  const root = document.getElementById('editor').attachShadow({ mode: 'open' });
  root.innerHTML = '<div contenteditable>hello world</div><i>x</i>';
  const text = root.firstChild.firstChild;
  const range = new Range();
  range.setStart(text, 1);
  range.setEnd(text, 4);
  window.getSelection().removeAllRanges();
  window.getSelection().addRange(range);
  const selection = root.getSelection();
  return [selection.anchorNode === text, selection.anchorOffset, selection.focusOffset,
          selection.getRangeAt(0).startContainer === text, selection.containsNode(text, true),
          selection.containsNode(root.lastChild, true), selection.toString()].join(' ');
})();
results.plain = (() => {
  try { sheet.insertRule('not a rule'); return 'accepted'; } catch (error) { return error.name; }
})();
fetch('/page-report', { method: 'POST', body: JSON.stringify(results) }).then(() => {
  console.error('oops', 42, { n: 1 });
  Promise.reject(new Error('nope'));
  setTimeout(() => { throw new TypeError('boom'); });
});
</script></body></html>)html";

constexpr std::string_view EXPECTED_PAGE_REPORT =
    R"json({"styled":"rgb(10, 11, 12)","insert":"ok","span":"rgb(1, 2, 3)","self":"rgb(4, 5, 6)",)json"
    R"json("outside":"rgb(0, 0, 0)",)json"
    R"json("quoted":"rgb(7, 8, 9)","selection":"true 1 4 true true false ell",)json"
    R"json("plain":"SyntaxError"})json";

// What the handler saw; the handler is a plain function of this state, as the program's is.
struct Observed {
    std::vector<std::string> uris;
    std::set<std::string> webview_ids;
    std::optional<Responder> later;
    std::optional<Request> report;
    std::optional<Request> page_report;
};
Observed observed;

void answer(Responder& responder, int status, std::string_view type, std::string_view body) {
    const ResponseHeader headers[] = {{"content-type", type}};
    responder.respond(Response{.status = status, .headers = headers, .body = text_bytes(body)});
}

void test_handler(std::string_view webview_id, const Request& request, Responder responder) {
    observed.uris.push_back(request.uri);
    observed.webview_ids.insert(std::string(webview_id));
    const std::string path = request.uri.substr(0, request.uri.find('?'));
    if (path == "devtools://localhost/index.html") {
        answer(responder, 200, "text/html; charset=utf-8", PAGE);
    } else if (path == "devtools://localhost/module.js") {
        answer(responder, 200, "text/javascript; charset=utf-8", "export const value = 42;");
    } else if (path == "devtools://localhost/icon.svg") {
        answer(
            responder, 200, "image/svg+xml",
            R"(<svg xmlns="http://www.w3.org/2000/svg" width="7" height="3"><rect width="7" height="3"/></svg>)");
    } else if (path == "devtools://localhost/later.txt") {
        // Answered from a later turn of the loop, after this handler has returned.
        observed.later.emplace(std::move(responder));
        (*gtk::load_window_api())
            ->g_idle_add(
                [](gpointer) -> gboolean {
                    answer(*observed.later, 200, "text/plain", "later");
                    return FALSE;
                },
                nullptr);
    } else if (path == "devtools://localhost/dropped.txt") {
        // Dropped unanswered: the request must still complete.
    } else if (path == "devtools://localhost/headers.txt") {
        const ResponseHeader headers[] = {{"content-type", "text/plain"},
                                          {"x-good", "fine"},
                                          {"x-bad", "split\r\nx-injected: 1"}};
        responder.respond(Response{.status = 200, .headers = headers, .body = text_bytes("h")});
    } else if (path == "devtools://localhost/download.html") {
        answer(responder, 200, "text/html; charset=utf-8", DOWNLOAD_PAGE);
    } else if (path == "devtools://localhost/page-checks.html") {
        answer(responder, 200, "text/html; charset=utf-8", PAGE_CHECKS);
    } else if (path == "devtools://localhost/page-report") {
        observed.page_report = request;
        answer(responder, 204, "text/plain", "");
    } else if (path == "devtools://localhost/report") {
        observed.report = request;
        answer(responder, 204, "text/plain", "");
    } else {
        answer(responder, 404, "text/plain; charset=utf-8", "Not Found");
    }
}

class SchemeInWebView : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        display_.emplace();
        home_.emplace();
        for (const auto& [name, value] : home_->environment()) {
            setenv(name.c_str(), value->c_str(), 1);
        }
        setenv("DISPLAY", display_->name().c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        // The default locale of a bare system: the page must still get a valid language.
        setenv("LANG", "C.UTF-8", 1);
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
    }

    static void TearDownTestSuite() {
        home_.reset();
        display_.reset();
    }

    static inline std::optional<x11_testing::XvfbDisplay> display_;
    static inline std::optional<x11_testing::TemporaryHome> home_;
};

TEST_F(SchemeInWebView, ServesModulesImagesErrorsAndLateOrMissingAnswersToThePage) {
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = "scheme test"});
    ASSERT_TRUE(window) << window.error().messages().front();
    auto view = WebViewBuilder()
                    .register_scheme("devtools", test_handler)
                    .set_url("devtools://localhost/index.html?ws=x")
                    .build(*window);
    ASSERT_TRUE(view) << view.error().messages().front();

    const bool reported =
        pump_until([] { return observed.report.has_value(); }, std::chrono::seconds(60));
    ASSERT_TRUE(reported) << "the page never posted its results; requests seen: "
                          << observed.uris.size();

    // The start URL reached the handler with its query intact.
    ASSERT_FALSE(observed.uris.empty());
    EXPECT_EQ(observed.uris.front(), "devtools://localhost/index.html?ws=x");
    const Request& report = *observed.report;
    EXPECT_EQ(report.method, "POST");
    EXPECT_EQ(std::string(report.body.begin(), report.body.end()), EXPECTED_REPORT);
    bool has_content_type = false;
    for (const Header& header : report.headers) {
        has_content_type = has_content_type || (header.name == "Content-Type" &&
                                                header.value.starts_with("text/plain"));
    }
    EXPECT_TRUE(has_content_type) << "the request headers did not reach the handler";
    EXPECT_EQ(observed.webview_ids.size(), 1u) << "every request names the same web view";
    EXPECT_FALSE(observed.webview_ids.begin()->empty());
    EXPECT_TRUE(observed.later && observed.later->answered());
}

TEST_F(SchemeInWebView, DownloadsGoToTheProposedNameWithoutAPromptAndNeverOverwrite) {
    // Without a configured download folder the home folder is used; an older file is in the way.
    const std::filesystem::path folder = home_->path();
    const std::filesystem::path existing = folder / "trace.json";
    const std::filesystem::path expected = folder / "trace (1).json";
    std::ofstream(existing) << "older";

    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = "download test"});
    ASSERT_TRUE(window) << window.error().messages().front();
    auto view = WebViewBuilder()
                    .register_scheme("devtools", test_handler)
                    .set_url("devtools://localhost/download.html")
                    .build(*window);
    ASSERT_TRUE(view) << view.error().messages().front();

    const auto content = [&] {
        std::ifstream file(expected);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    ASSERT_TRUE(pump_until([&] { return content() == "downloaded"; }, std::chrono::seconds(30)))
        << "no completed download at " << expected << "; requests: " <<
        [] {
            std::string all;
            for (const std::string& uri : observed.uris)
                all += uri + " ";
            return all;
        }()
        << "; files: " << [&] {
               std::string all;
               for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
                   if (entry.is_regular_file())
                       all += entry.path().string() + " ";
               }
               return all;
           }();
    std::ifstream older(existing);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(older), {}), "older");
}

TEST_F(SchemeInWebView, HostContextRulesAndShadowSelectionsWorkAndPageFailuresReachTheSink) {
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = "page checks"});
    ASSERT_TRUE(window) << window.error().messages().front();
    std::vector<std::string> diagnostics;
    auto view =
        WebViewBuilder()
            .register_scheme("devtools", test_handler)
            .on_page_diagnostic([&](std::string_view text) { diagnostics.emplace_back(text); })
            .set_url("devtools://localhost/page-checks.html")
            .build(*window);
    ASSERT_TRUE(view) << view.error().messages().front();

    const auto reported = [&](std::string_view start) {
        return std::any_of(diagnostics.begin(), diagnostics.end(),
                           [&](const std::string& text) { return text.starts_with(start); });
    };
    ASSERT_TRUE(pump_until(
        [&] {
            return observed.page_report && reported("console.error:") &&
                   reported("unhandled rejection:") && reported("uncaught ");
        },
        std::chrono::seconds(60)))
        << "report: " << observed.page_report.has_value()
        << ", diagnostics: " << testing::PrintToString(diagnostics);

    const std::vector<std::uint8_t>& body = observed.page_report->body;
    EXPECT_EQ(std::string(body.begin(), body.end()), EXPECTED_PAGE_REPORT);
    // Each report names what failed; errors carry their stack.
    std::string all;
    for (const std::string& text : diagnostics) {
        all += text + "\n--\n";
    }
    EXPECT_NE(all.find("console.error: oops 42 {\"n\":1}"), std::string::npos) << all;
    EXPECT_NE(all.find("unhandled rejection: Error: nope\n"), std::string::npos) << all;
    EXPECT_NE(all.find("uncaught TypeError: boom\n"), std::string::npos) << all;
    EXPECT_NE(all.find("page-checks.html"), std::string::npos) << "no stack: " << all;
}

TEST_F(SchemeInWebView, RefusesSchemesTheEngineServesItselfBeforeBuildingAnything) {
    EventLoop loop = create_event_loop();
    auto window = create_window(loop, WindowAttributes{.title = "refusal test"});
    ASSERT_TRUE(window) << window.error().messages().front();
    auto view =
        WebViewBuilder().register_scheme("http", test_handler).set_url("http://x/").build(*window);
    ASSERT_FALSE(view);
    EXPECT_EQ(view.error().messages().front(),
              "WebKit cannot serve the URI scheme \"http\" through the program");
    auto twice = WebViewBuilder()
                     .register_scheme("app", test_handler)
                     .register_scheme("app", test_handler)
                     .build(*window);
    ASSERT_FALSE(twice);
    EXPECT_EQ(twice.error().messages().front(), "the URI scheme \"app\" is registered twice");
}

}  // namespace
}  // namespace quelby::webview_host
