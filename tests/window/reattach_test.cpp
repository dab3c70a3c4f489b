// Staying attached across restarts of the debuggee, in-process: which page messages mean the front
// end lost its target, the background search against a scripted inspector on loopback, and the
// window step over the recording fake backend, from the lost connection to the new navigation.
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <future>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "quelby/app/launcher.h"
#include "quelby/assets/frontend_url.h"
#include "quelby/discovery/discovery.h"
#include "quelby/webview_host/fake_host.h"
#include "quelby/window/inspector_window.h"
#include "quelby/window/target_watch.h"
#include "support/fake_inspector.h"

namespace quelby {
namespace {

namespace fake = webview_host::fake;
using fake::Step;
using std::chrono::milliseconds;
using webview_host::EventKind;
using SteadyClock = std::chrono::steady_clock;

// A list of one target, `id`, whose address takes `scheme` ("ws" or "wss").
std::string target_list(std::string_view id, std::string_view scheme = "ws") {
    return test_support::http_reply(
        "HTTP/1.0 200 OK", R"([{"id":")" + std::string(id) + R"(","webSocketDebuggerUrl":")" +
                               std::string(scheme) + "://127.0.0.1:9229/" + std::string(id) +
                               R"("}])");
}

WsTarget plain(std::string address) {
    return WsTarget{std::move(address), false};
}

// The discovery the launcher gives the watch, for a listener's address as typed.
TargetDiscovery listener_discovery(const std::string& address) {
    return [address](const std::stop_token& stop) {
        return discover_target(ListenerAddress{address}, std::nullopt, stop);
    };
}

test_support::FakeAnswer answer(std::string bytes) {
    return {.bytes = std::move(bytes),
            .close_after = true,
            .read_request = true,
            .trickle = milliseconds{0},
            .trickle_forever = false};
}

TEST(LostConnection, OnlyAClosedSocketToTheCurrentTargetCounts) {
    struct Case {
        std::string message;
        std::string ws_target;
        bool lost;
    };
    const std::vector<Case> cases = {
        {"websocket closed: ws://127.0.0.1:9229/abc", "127.0.0.1:9229/abc", true},
        {"websocket closed: wss://example.test/devtools/abc", "example.test/devtools/abc", true},
        // The browser's normalised form of the address: the target's id decides.
        {"websocket closed: ws://localhost:9229/abc", "LOCALHOST:9229/abc", true},
        // A socket of the previous session, closing after the window moved on.
        {"websocket closed: ws://127.0.0.1:9229/old", "127.0.0.1:9229/abc", false},
        // No id to compare: the text must match.
        {"websocket closed: ws://127.0.0.1:9229/", "127.0.0.2:9229/", false},
        {"websocket closed: ws://127.0.0.1:9229", "127.0.0.1:9229", true},
        {"websocket closed: ws://127.0.0.2:9229", "127.0.0.1:9229", false},
        // Other messages, or the page's own text.
        {"websocket opened: ws://127.0.0.1:9229/abc", "127.0.0.1:9229/abc", false},
        {"ws://127.0.0.1:9229/abc", "127.0.0.1:9229/abc", false},
        {"", "127.0.0.1:9229/abc", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reports_lost_connection(c.message, c.ws_target), c.lost)
            << c.message << " / " << c.ws_target;
    }
}

// What a watch over `address` finds, or nothing within `limit`.
std::optional<WsTarget> watch_for(const std::string& address, const WsTarget& lost,
                                  milliseconds limit) {
    std::promise<WsTarget> found;
    std::future<WsTarget> result = found.get_future();
    TargetWatch watch(listener_discovery(address),
                      [&found](WsTarget target) { found.set_value(std::move(target)); });
    watch.connection_lost(lost);
    if (result.wait_for(limit) != std::future_status::ready) {
        return std::nullopt;
    }
    return result.get();
}

TEST(TargetWatch, FindsTheNewTargetOnceTheListNamesOne) {
    // The inspector still lists the lost target for two lookups, then the restarted one.
    test_support::FakeInspector inspector(
        {answer(target_list("old")), answer(target_list("old")), answer(target_list("new"))});
    const auto started = SteadyClock::now();
    EXPECT_EQ(watch_for(inspector.address(), plain("127.0.0.1:9229/old"), milliseconds{5000}),
              plain("127.0.0.1:9229/new"));
    EXPECT_EQ(inspector.requests().size(), 3U);
    // A live inspector is asked again at the slower pace.
    EXPECT_GE(SteadyClock::now() - started, 2 * LIVE_TARGET_PAUSE);
}

TEST(TargetWatch, TheSameTargetCountsOnlyAfterTheInspectorWasSeenGone) {
    // Refused for a while (the debuggee restarting), then the same id again.
    test_support::FakeInspector restarted({answer(target_list("same"))}, milliseconds{400});
    EXPECT_EQ(watch_for(restarted.address(), plain("127.0.0.1:9229/same"), milliseconds{5000}),
              plain("127.0.0.1:9229/same"));

    // Always there with the lost target: it refused or dropped the front end, and sending the
    // window back would only repeat that. The lookups go on, once a second.
    test_support::FakeInspector live({answer(target_list("same"))});
    EXPECT_EQ(watch_for(live.address(), plain("127.0.0.1:9229/same"), milliseconds{1500}),
              std::nullopt);
    EXPECT_EQ(live.requests().size(), 2U);

    // The same address under the other scheme is another target: the front end must connect
    // again with the new one, at once.
    for (const bool secure : {false, true}) {
        test_support::FakeInspector switched({answer(target_list("same", secure ? "ws" : "wss"))});
        EXPECT_EQ(watch_for(switched.address(), WsTarget{"127.0.0.1:9229/same", secure},
                            milliseconds{5000}),
                  (WsTarget{"127.0.0.1:9229/same", !secure}));
        EXPECT_EQ(switched.requests().size(), 1U);
    }
}

TEST(TargetWatch, LearnsThatTheInspectorWasGoneFromTheLookupsFailedAttempts) {
    // Every lookup finds the lost target; the second one only after failed attempts (the
    // debuggee restarted with the same id meanwhile): the next lookup's answer is taken.
    std::atomic<int> lookups{0};
    std::promise<WsTarget> found;
    std::future<WsTarget> result = found.get_future();
    const auto started = SteadyClock::now();
    {
        TargetWatch watch(
            [&](const std::stop_token& /*stop*/) -> Result<DebuggerTarget> {
                const int n = ++lookups;
                return DebuggerTarget{plain("127.0.0.1:9229/same"), false, n == 2 ? 3U : 0U};
            },
            [&found](WsTarget target) { found.set_value(std::move(target)); });
        watch.connection_lost(plain("127.0.0.1:9229/same"));
        ASSERT_EQ(result.wait_for(milliseconds{5000}), std::future_status::ready);
    }
    EXPECT_EQ(result.get(), plain("127.0.0.1:9229/same"));
    EXPECT_EQ(lookups.load(), 3);
    // Two pauses of a live inspector.
    EXPECT_GE(SteadyClock::now() - started, 2 * LIVE_TARGET_PAUSE);
}

TEST(TargetWatch, StopsPromptlyWhileTheInspectorIsGone) {
    const test_support::RefusingPort gone;
    std::atomic<int> lookups{0};
    const auto started = SteadyClock::now();
    {
        TargetWatch watch(
            [&](const std::stop_token& stop) {
                ++lookups;
                return listener_discovery(gone.address())(stop);
            },
            [](const WsTarget& target) { ADD_FAILURE() << "found " << target.address; });
        watch.connection_lost(plain("127.0.0.1:9229/abc"));
        watch.connection_lost(plain("127.0.0.1:9229/abc"));  // already searching: ignored
        std::this_thread::sleep_for(milliseconds{300});
    }
    // Well under one lookup's own 5 s of retries.
    EXPECT_LT(SteadyClock::now() - started, milliseconds{1000});
    EXPECT_EQ(lookups.load(), 1);
}

TEST(TargetWatch, StopsPromptlyWhileAnAttemptWaitsOnAPeerThatNeverAnswers) {
    // One peer never accepts (the connect waits), the other accepts and never says a word (the
    // receive waits): closing the window must not wait out the attempt's 5 s or 3 s.
    const test_support::StuckListener never_accepts;
    const test_support::FakeInspector never_answers({{.bytes = "",
                                                      .close_after = false,
                                                      .read_request = true,
                                                      .trickle = milliseconds{0},
                                                      .trickle_forever = false}});
    for (const std::string& address : {never_accepts.address(), never_answers.address()}) {
        SCOPED_TRACE(address);
        std::atomic<int> lookups{0};
        const auto started = SteadyClock::now();
        {
            TargetWatch watch(
                [&](const std::stop_token& stop) {
                    ++lookups;
                    return listener_discovery(address)(stop);
                },
                [](const WsTarget& target) { ADD_FAILURE() << "found " << target.address; });
            watch.connection_lost(plain("127.0.0.1:9229/abc"));
            std::this_thread::sleep_for(milliseconds{300});  // well into the attempt's wait
        }
        EXPECT_LT(SteadyClock::now() - started, milliseconds{1000});
        EXPECT_EQ(lookups.load(), 1);
    }
}

// ---- the window step over the fake backend
// -------------------------------------------------------

Step page_message(std::string text) {
    return Step{
        .kind = Step::Kind::PageMessage, .event = {}, .scheme = {}, .text = std::move(text)};
}
Step await_navigation() {
    return Step{.kind = Step::Kind::AwaitNavigation, .event = {}, .scheme = {}, .text = {}};
}
Step close_request() {
    return Step{
        .kind = Step::Kind::Event, .event = EventKind::CloseRequested, .scheme = {}, .text = {}};
}

constexpr const char* FIRST_URL =
    "http://devtools.localhost/js_app.html?ws=127.0.0.1:9229/one&experiments=true&v8only=true";

// The window on target "one", following it with `discover`.
Result<int> run_reattaching_window(TargetDiscovery discover,
                                   std::function<void(const WsTarget&)> attached = {}) {
    return run_inspector_window(
        FIRST_URL,
        WindowOptions{
            .diagnostics_level = PageDiagnostics::Off,
            .diagnostics = {},
            .reattach =
                Reattach{
                    .target = plain("127.0.0.1:9229/one"),
                    .discover = std::move(discover),
                    .frontend_url = [](const WsTarget& target) { return frontend_url(target); },
                    .attached = std::move(attached),
                },
            .settings_file = std::nullopt});
}

// A window on target "one", with a discovery that answers from `targets` in turn (the last one
// repeats), counting its lookups.
struct ScriptedTargets {
    explicit ScriptedTargets(std::vector<std::string> in) : targets(std::move(in)) {}

    std::vector<std::string> targets;
    std::atomic<std::size_t> lookups{0};
    std::vector<std::string> attached;

    Result<int> run_window(std::vector<Step> steps) {
        fake::reset({.window_failure = {}, .webview_failure = {}, .steps = std::move(steps)});
        return run_reattaching_window(
            [this](const std::stop_token& /*stop*/) -> Result<DebuggerTarget> {
                const std::size_t n = lookups++;
                return DebuggerTarget{plain(targets[std::min(n, targets.size() - 1)]), false, 0};
            },
            [this](const WsTarget& target) { attached.push_back(target.address); });
    }
};

TEST(ReattachingWindow, ALostConnectionSendsTheWindowToTheNewTarget) {
    ScriptedTargets scripted({"127.0.0.1:9229/two", "127.0.0.1:9229/three"});
    const Result<int> status = scripted.run_window(
        {page_message("websocket closed: ws://127.0.0.1:9229/one"), await_navigation(),
         // The old page's socket closing late changes nothing; the new one's loss moves on again.
         page_message("websocket closed: ws://127.0.0.1:9229/one"),
         page_message("websocket closed: ws://127.0.0.1:9229/two"), await_navigation(),
         close_request()});
    ASSERT_TRUE(status) << status.error().messages().front();
    EXPECT_EQ(*status, 0);
    const fake::Record& record = fake::record();
    EXPECT_EQ(
        record.navigations,
        (std::vector<std::string>{
            "devtools://localhost/js_app.html?ws=127.0.0.1:9229/two&experiments=true&v8only=true",
            "devtools://localhost/js_app.html?ws=127.0.0.1:9229/"
            "three&experiments=true&v8only=true"}));
    EXPECT_EQ(scripted.attached,
              (std::vector<std::string>{"127.0.0.1:9229/two", "127.0.0.1:9229/three"}));
    EXPECT_EQ(scripted.lookups.load(), 2U);
    EXPECT_EQ(std::ranges::count(record.page_scripts, socket_watch_script()), 1);
    EXPECT_EQ(record.calls,
              (std::vector<std::string>{
                  "create_event_loop", "create_window", "build", "run_event_loop", "navigate",
                  "navigate", "release web view", "release window", "release event loop"}));
}

TEST(ReattachingWindow, OtherMessagesStartNoSearch) {
    ScriptedTargets scripted({"127.0.0.1:9229/two"});
    const Result<int> status =
        scripted.run_window({page_message("websocket closed: ws://127.0.0.1:9229/elsewhere"),
                             page_message("hello from the page"), close_request()});
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(scripted.lookups.load(), 0U);
    EXPECT_TRUE(fake::record().navigations.empty());
}

TEST(ReattachingWindow, ClosingWhileSearchingEndsPromptlyAndNavigatesNowhere) {
    const test_support::RefusingPort gone;
    fake::reset(
        {.window_failure = {},
         .webview_failure = {},
         .steps = {page_message("websocket closed: ws://127.0.0.1:9229/one"), close_request()}});
    const auto started = SteadyClock::now();
    const Result<int> status = run_reattaching_window(listener_discovery(gone.address()));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_LT(SteadyClock::now() - started, milliseconds{1000});
    EXPECT_TRUE(fake::record().navigations.empty());
}

TEST(ReattachingWindow, WithoutReattachThePageIsNotWatched) {
    fake::reset({.window_failure = {}, .webview_failure = {}, .steps = {close_request()}});
    ASSERT_TRUE(run_inspector_window(FIRST_URL));
    EXPECT_EQ(std::ranges::count(fake::record().page_scripts, socket_watch_script()), 0);
}

// The run sequence: the window follows the target the same address lists after a restart, and the
// console gets the new ws target line; --no-reattach leaves the page unwatched.
TEST(ReattachingRun, TheLauncherWatchesByDefaultAndNotWithTheFlag) {
    test_support::FakeInspector inspector({answer(target_list("one")), answer(target_list("two"))});
    fake::reset({.window_failure = {},
                 .webview_failure = {},
                 .steps = {page_message("websocket closed: ws://127.0.0.1:9229/one"),
                           await_navigation(), close_request()}});
    const std::vector<std::string> arguments = {inspector.address()};
    const Result<int> status = run(arguments);
    ASSERT_TRUE(status) << status.error().messages().front();
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(fake::record().navigations,
              std::vector<std::string>{"devtools://localhost/js_app.html?ws=127.0.0.1:9229/"
                                       "two&experiments=true&v8only=true"});

    fake::reset({.window_failure = {}, .webview_failure = {}, .steps = {close_request()}});
    const std::vector<std::string> without = {inspector.address(), std::string(NO_REATTACH_FLAG)};
    ASSERT_TRUE(run(without));
    EXPECT_EQ(std::ranges::count(fake::record().page_scripts, socket_watch_script()), 0);
    EXPECT_FALSE(parse_command_line(without).reattach);
    EXPECT_TRUE(parse_command_line(arguments).reattach);
}

// A debuggee may come back under the other scheme (a TLS proxy put in front of it, or taken away):
// the window's new front end connects the way the new target says, not the way the first one did.
TEST(ReattachingRun, TheNewFrontEndTakesTheNewTargetsScheme) {
    const std::pair<std::string_view, std::string_view> switches[] = {{"ws", "wss"}, {"wss", "ws"}};
    for (const auto& [first, next] : switches) {
        SCOPED_TRACE(std::string(first) + " -> " + std::string(next));
        test_support::FakeInspector inspector(
            {answer(target_list("one", first)), answer(target_list("two", next))});
        fake::reset({.window_failure = {},
                     .webview_failure = {},
                     .steps = {page_message("websocket closed: " + std::string(first) +
                                            "://127.0.0.1:9229/one"),
                               await_navigation(), close_request()}});
        const std::vector<std::string> arguments = {inspector.address()};
        const Result<int> status = run(arguments);
        ASSERT_TRUE(status) << status.error().messages().front();
        EXPECT_EQ(*status, 0);
        EXPECT_EQ(fake::record().navigations,
                  std::vector<std::string>{"devtools://localhost/js_app.html?" + std::string(next) +
                                           "=127.0.0.1:9229/two&experiments=true&v8only=true"});
    }
}

// ---- the host's queue from other threads, on the fake backend
// ------------------------------------

// One of several windows goes while the loop runs on: what it posted and had not run yet must not
// run after it, and it can post nothing more.
TEST(LoopPoster, ABoundTaskRunsOnlyWhileItsOwnerLives) {
    fake::reset({.window_failure = {}, .webview_failure = {}, .steps = {}});
    webview_host::EventLoop loop = webview_host::create_event_loop();
    auto owner = std::make_shared<int>(0);
    const webview_host::LoopPoster poster = webview_host::loop_poster(loop).bound_to(owner);
    std::vector<std::string> ran;
    ASSERT_TRUE(poster.post([&] { ran.emplace_back("while alive"); }));
    ASSERT_TRUE(fake::run_posted_tasks_until(loop, [&] { return !ran.empty(); }));

    ASSERT_TRUE(poster.post([&] { ran.emplace_back("queued, then its owner went"); }));
    owner.reset();
    EXPECT_FALSE(poster.post([&] { ran.emplace_back("after its owner went"); }));
    // The unbound poster of the same loop still runs its tasks, after the dropped one.
    bool unbound_ran = false;
    ASSERT_TRUE(webview_host::loop_poster(loop).post([&] { unbound_ran = true; }));
    ASSERT_TRUE(fake::run_posted_tasks_until(loop, [&] { return unbound_ran; }));
    EXPECT_EQ(ran, std::vector<std::string>{"while alive"});
}

TEST(LoopPoster, TasksFromOtherThreadsRunOnTheLoopThreadAndNoneAfterTheLoopEnded) {
    fake::reset({.window_failure = {}, .webview_failure = {}, .steps = {await_navigation()}});
    webview_host::EventLoop loop = webview_host::create_event_loop();
    auto window = webview_host::create_window(loop, {.title = "t"});
    ASSERT_TRUE(window);
    auto view = webview_host::WebViewBuilder().build(*window);
    ASSERT_TRUE(view);
    const webview_host::LoopPoster poster = webview_host::loop_poster(loop);
    const std::thread::id loop_thread = std::this_thread::get_id();
    std::vector<int> order;
    bool on_loop_thread = true;
    std::thread other([&] {
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(poster.post([&, i] {
                order.push_back(i);
                on_loop_thread = on_loop_thread && std::this_thread::get_id() == loop_thread;
                if (i == 2) {
                    static_cast<void>(webview_host::navigate(*view, "devtools://localhost/x"));
                }
            }));
        }
    });
    static_cast<void>(webview_host::run_event_loop(
        loop, [](const webview_host::Event&, webview_host::LoopMode&) {}));
    other.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(on_loop_thread);

    // The loop has ended: refused, and the task destroyed at once, not kept.
    auto witness = std::make_shared<int>(0);
    EXPECT_FALSE(poster.post([witness] { ++*witness; }));
    EXPECT_EQ(witness.use_count(), 1);
    EXPECT_EQ(*witness, 0);
}

}  // namespace
}  // namespace quelby
