// The window step and the run sequence in-process, over the recording fake backend: what the host
// is given, what each event does to the loop, what the registered scheme answers, what reaches the
// diagnostics, and what every failure becomes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "quelby/app/launcher.h"
#include "quelby/webview_host/fake_host.h"
#include "quelby/window/inspector_window.h"
#include "support/fake_inspector.h"

namespace quelby {
namespace {

namespace fake = webview_host::fake;
using fake::Step;
using webview_host::EventKind;
using webview_host::LoopMode;

constexpr const char* FRONTEND_URL =
    "http://devtools.localhost/js_app.html?ws=127.0.0.1:9229/abc&experiments=true&v8only=true";

Step event(EventKind kind) {
    return Step{.kind = Step::Kind::Event, .event = kind, .scheme = {}, .text = {}};
}
Step request(std::string uri) {
    return Step{
        .kind = Step::Kind::Request, .event = {}, .scheme = "devtools", .text = std::move(uri)};
}
Step page_says(std::string text) {
    return Step{
        .kind = Step::Kind::PageDiagnostic, .event = {}, .scheme = {}, .text = std::move(text)};
}

TEST(WindowStep, OpensTheTitledWebViewOnTheSchemesFormAndEndsWithTheCloseRequest) {
    fake::reset({.window_failure = {},
                 .webview_failure = {},
                 .steps = {event(EventKind::Other), event(EventKind::Other),
                           event(EventKind::CloseRequested), event(EventKind::Other)}});
    const Result<int> status = run_inspector_window(FRONTEND_URL);
    ASSERT_TRUE(status) << status.error().messages().front();
    EXPECT_EQ(*status, 0);
    const fake::Record& record = fake::record();
    EXPECT_EQ(record.title, "quelby \xe2\x80\x94 script inspector");
    EXPECT_EQ(record.schemes, std::vector<std::string>{"devtools"});
    // The web view gets the scheme's own form of the address.
    EXPECT_EQ(
        record.url,
        "devtools://localhost/js_app.html?ws=127.0.0.1:9229/abc&experiments=true&v8only=true");
    EXPECT_FALSE(record.page_diagnostics);
    // The loop's start and every other event leave it waiting; the close request ends it.
    EXPECT_EQ(record.modes,
              (std::vector<LoopMode::Kind>{LoopMode::Kind::Wait, LoopMode::Kind::Wait,
                                           LoopMode::Kind::Wait, LoopMode::Kind::Exit}));
}

TEST(WindowStep, WithoutACloseRequestTheLoopNeverEnds) {
    fake::reset({.window_failure = {}, .webview_failure = {}, .steps = {event(EventKind::Other)}});
    const Result<int> status = run_inspector_window(FRONTEND_URL);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, fake::LOOP_NEVER_ENDED);
}

TEST(WindowStep, AnOrdinaryAddressIsNavigatedUnchangedAndTheSchemeIsRegisteredAllTheSame) {
    fake::reset(
        {.window_failure = {}, .webview_failure = {}, .steps = {event(EventKind::CloseRequested)}});
    ASSERT_TRUE(run_inspector_window("http://127.0.0.1:8080/inspector.html?ws=x"));
    EXPECT_EQ(fake::record().url, "http://127.0.0.1:8080/inspector.html?ws=x");
    EXPECT_EQ(fake::record().schemes, std::vector<std::string>{"devtools"});
}

TEST(WindowStep, AWindowFailureIsReportedUnderItsContextAndBuildsNoWebView) {
    fake::reset({.window_failure = "cannot open display: :99", .webview_failure = {}, .steps = {}});
    const Result<int> status = run_inspector_window(FRONTEND_URL);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().messages(),
              (std::vector<std::string>{"failed to create inspector window",
                                        "cannot open display: :99"}));
    EXPECT_EQ(std::ranges::count(fake::record().calls, "build"), 0);
}

TEST(WindowStep, AWebViewFailureIsReportedUnderItsContextNamingTheEngine) {
    fake::reset({.window_failure = {}, .webview_failure = "no engine here", .steps = {}});
    const Result<int> status = run_inspector_window(FRONTEND_URL);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().messages(),
              (std::vector<std::string>{"failed to create webview (is the fake engine installed?)",
                                        "no engine here"}));
}

TEST(WindowStep, TheRegisteredSchemeServesTheEmbeddedFrontEnd) {
    fake::reset({.window_failure = {},
                 .webview_failure = {},
                 .steps = {request("devtools://localhost/js_app.html?ws=x"),
                           request("devtools://localhost/nothing-here.js"),
                           event(EventKind::CloseRequested)}});
    ASSERT_TRUE(run_inspector_window(FRONTEND_URL));
    const auto& answers = fake::record().answers;
    ASSERT_EQ(answers.size(), 2U);
    EXPECT_EQ(answers[0].status, 200);
    EXPECT_EQ(answers[0].headers, (std::vector<std::pair<std::string, std::string>>{
                                      {"content-type", "text/html; charset=utf-8"}}));
    EXPECT_NE(answers[0].body.find("entrypoints/js_app/js_app.js"), std::string::npos);
    EXPECT_EQ(answers[1].status, 404);
    EXPECT_EQ(answers[1].body, "Not Found");
}

TEST(WindowStep, DiagnosticsReceiveWhatTheSwitchAsksFor) {
    const std::vector<Step> steps = {
        request("devtools://localhost/js_app.html"), request("devtools://localhost/missing.js"),
        page_says("uncaught Error: x"), event(EventKind::CloseRequested)};
    const auto run_with = [&](PageDiagnostics level) {
        fake::reset({.window_failure = {}, .webview_failure = {}, .steps = steps});
        std::vector<std::string> seen;
        const Result<int> status = run_inspector_window(
            FRONTEND_URL, level, [&](std::string_view text) { seen.emplace_back(text); });
        EXPECT_TRUE(status && *status == 0);
        // The page's requests are answered the same whatever the switch says.
        EXPECT_EQ(fake::record().answers.size(), 2U);
        EXPECT_EQ(fake::record().answers[1].status, 404);
        return seen;
    };
    EXPECT_EQ(run_with(PageDiagnostics::Off), std::vector<std::string>{});
    EXPECT_FALSE(fake::record().page_diagnostics);
    EXPECT_EQ(run_with(PageDiagnostics::Failures),
              (std::vector<std::string>{"not found: devtools://localhost/missing.js",
                                        "uncaught Error: x"}));
    EXPECT_TRUE(fake::record().page_diagnostics);
    EXPECT_EQ(run_with(PageDiagnostics::EveryRequest),
              (std::vector<std::string>{"served 200: devtools://localhost/js_app.html",
                                        "not found: devtools://localhost/missing.js",
                                        "uncaught Error: x"}));
}

// The run sequence, from the arguments to the window, against a scripted inspector on loopback.
constexpr const char* LIST = R"([{"id":"abc","webSocketDebuggerUrl":"ws://127.0.0.1:9229/abc"}])";

TEST(RunSequence, OpensTheWindowOnTheDiscoveredTargetAndEndsWithTheLoopsStatus) {
    test_support::FakeInspector inspector(
        {{test_support::http_reply("HTTP/1.0 200 OK", LIST), true, true}});
    fake::reset(
        {.window_failure = {}, .webview_failure = {}, .steps = {event(EventKind::CloseRequested)}});
    const std::vector<std::string> arguments = {"--unknown", inspector.address()};
    const Result<int> status = run(arguments);
    ASSERT_TRUE(status) << status.error().messages().front();
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(
        fake::record().url,
        "devtools://localhost/js_app.html?ws=127.0.0.1:9229/abc&experiments=true&v8only=true");
}

TEST(RunSequence, PrintUrlAndFailedDiscoveryOpenNoWindow) {
    test_support::FakeInspector inspector(
        {{test_support::http_reply("HTTP/1.0 200 OK", LIST), true, true}});
    fake::reset({});
    const std::vector<std::string> print_url = {inspector.address(), "--print-url"};
    const Result<int> printed = run(print_url);
    ASSERT_TRUE(printed);
    EXPECT_EQ(*printed, 0);
    EXPECT_EQ(fake::record().calls, std::vector<std::string>{});

    test_support::FakeInspector empty(
        {{test_support::http_reply("HTTP/1.0 200 OK", "[]"), true, true}});
    const std::vector<std::string> arguments = {empty.address()};
    const Result<int> failed = run(arguments);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().messages().back(), "no webSocketDebuggerUrl in inspector /json: []");
    EXPECT_EQ(fake::record().calls, std::vector<std::string>{});
}

TEST(RunSequence, AWindowFailureComesBackAsTheRunsError) {
    test_support::FakeInspector inspector(
        {{test_support::http_reply("HTTP/1.0 200 OK", LIST), true, true}});
    fake::reset({.window_failure = {}, .webview_failure = "no engine here", .steps = {}});
    const std::vector<std::string> arguments = {inspector.address()};
    const Result<int> status = run(arguments);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().messages().front(),
              "failed to create webview (is the fake engine installed?)");
}

}  // namespace
}  // namespace quelby

namespace quelby {
namespace {

// Several windows on one loop, as launch mode opens them: each close request names its window, the
// program releases that one only, and ends the loop itself once none is left.
TEST(SeveralWindows, EachCloseRequestNamesItsWindowAndTheProgramEndsTheLoop) {
    fake::reset({.window_failure = {},
                 .webview_failure = {},
                 .steps = {Step{.kind = Step::Kind::Event,
                                .event = EventKind::CloseRequested,
                                .window = 1,
                                .scheme = {},
                                .text = {}},
                           Step{.kind = Step::Kind::Event,
                                .event = EventKind::CloseRequested,
                                .window = 0,
                                .scheme = {},
                                .text = {}},
                           event(EventKind::Other)}});
    webview_host::EventLoop loop = webview_host::create_event_loop();
    std::vector<std::unique_ptr<InspectorWindow>> windows;
    for (const char* title : {"first", "second"}) {
        WindowOptions options;
        options.title = title;
        auto window = InspectorWindow::open(loop, FRONTEND_URL, options);
        ASSERT_TRUE(window) << format_report(window.error());
        windows.push_back(std::move(*window));
    }
    std::vector<std::string> closed;
    const int status =
        webview_host::run_event_loop(loop, [&](const webview_host::Event& event, LoopMode&) {
            if (event.kind != EventKind::CloseRequested) {
                return;
            }
            for (auto it = windows.begin(); it != windows.end(); ++it) {
                if ((*it)->window_state() == event.window) {
                    closed.push_back(it == windows.begin() ? "first" : "second");
                    windows.erase(it);
                    break;
                }
            }
            if (windows.empty()) {
                webview_host::end_event_loop(loop, 7);
            }
        });
    EXPECT_EQ(status, 7);
    EXPECT_EQ(closed, (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(fake::record().titles, (std::vector<std::string>{"first", "second"}));
    // The loop ended with the program's call: the last event was never delivered.
    EXPECT_EQ(fake::record().modes.size(), 3U);
}

}  // namespace
}  // namespace quelby
