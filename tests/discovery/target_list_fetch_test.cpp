// Loopback integration tests of the target list fetch against a scripted fake inspector on a free
// port.
#include "quelby/discovery/target_list_fetch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "quelby/discovery/discovery.h"
#include "quelby/discovery/http_reply.h"
#include "quelby/discovery/tcp_connection.h"
#include "support/fake_inspector.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::FakeAnswer;
using test_support::FakeInspector;
using test_support::http_reply;

constexpr std::string_view LIST = R"([{"webSocketDebuggerUrl":"ws://127.0.0.1:1/abc"}])";

std::chrono::milliseconds since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

std::string os_error(int code) {
    return ErrorChain::from_os_error(code).messages().front();
}

TEST(FetchOnce, SendsTheExactRequestAndReturnsTheBody) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST)}});
    const auto body = fetch_once(fake.address(), TARGET_LIST_PATH);
    ASSERT_TRUE(body.has_value()) << format_report(body.error());
    EXPECT_EQ(*body, LIST);
    ASSERT_EQ(fake.requests().size(), 1U);
    EXPECT_EQ(fake.requests()[0], "GET /json HTTP/1.0\r\nHost: " + fake.address() +
                                      "\r\nAccept: application/json\r\nConnection: close\r\n\r\n");
}

TEST(FetchOnce, ResolvesNamesAndSendsTheAddressWithAPlainPort) {
    // localhost may resolve to ::1 first; the fake listens on 127.0.0.1 only, so that address is
    // refused and the next one is tried. The Host header carries the port as a number: node builds
    // its webSocketDebuggerUrl from it, and "+9229" there leaves the front end unable to connect.
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST)}});
    const std::string plain = "localhost:" + std::to_string(fake.port());
    for (const std::string& typed : {plain, "localhost:+" + std::to_string(fake.port())}) {
        SCOPED_TRACE(typed);
        const auto body = fetch_once(typed, TARGET_LIST_PATH);
        ASSERT_TRUE(body.has_value()) << format_report(body.error());
        EXPECT_EQ(fake.requests().back(), "GET /json HTTP/1.0\r\nHost: " + plain +
                                              "\r\nAccept: application/json\r\nConnection: "
                                              "close\r\n\r\n");
    }
    EXPECT_EQ(fake.requests().size(), 2U);
}

TEST(FetchOnce, ChecksTheReply) {
    struct Case {
        std::string name;
        std::string reply;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"non-200", "HTTP/1.1 404 Not Found\r\n\r\n",
         "inspector returned non-200: HTTP/1.1 404 Not Found"},
        {"malformed head", "HTTP/1.0 200 OK\n\n[]", "malformed HTTP response from inspector"},
        {"no blank line", "x", "malformed HTTP response from inspector"},
        {"not UTF-8", "HTTP/1.0 200 OK\r\n\r\n[\"\xC0\xAF\"]",
         "stream did not contain valid UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeInspector fake({{c.reply}});
        const auto body = fetch_once(fake.address(), TARGET_LIST_PATH);
        ASSERT_FALSE(body.has_value());
        EXPECT_EQ(body.error().messages(), std::vector<std::string>{c.error});  // no context added
    }
}

TEST(FetchOnce, AsksAPeerThatClosesWithoutAWordAgainInHttp11) {
    // What Chromium's inspector does with an HTTP/1.0 request.
    FakeInspector chromium([](const std::string& request) {
        return request.starts_with("GET /json HTTP/1.1\r\n")
                   ? FakeAnswer{http_reply("HTTP/1.1 200 OK", LIST)}
                   : FakeAnswer{""};
    });
    const auto body = fetch_once(chromium.address(), TARGET_LIST_PATH);
    ASSERT_TRUE(body.has_value()) << format_report(body.error());
    EXPECT_EQ(*body, LIST);
    ASSERT_EQ(chromium.requests().size(), 2U);
    // The same request but for its version.
    EXPECT_EQ(chromium.requests()[1], "GET /json HTTP/1.1\r\nHost: " + chromium.address() +
                                          "\r\nAccept: application/json\r\nConnection: "
                                          "close\r\n\r\n");

    // Silent to both: the reply check's message and one line more.
    FakeInspector silent({{""}});
    const auto refused = fetch_once(silent.address(), TARGET_LIST_PATH);
    ASSERT_FALSE(refused.has_value());
    // The hint goes with the message, on the report's next line.
    EXPECT_EQ(format_report(refused.error()), "Error: malformed HTTP response from inspector\n" +
                                                  std::string(CLOSED_WITHOUT_REPLY_HINT) + "\n");
    EXPECT_EQ(silent.requests().size(), 2U);
}

// A fake V8 inspector's DNS-rebinding defence: 400 unless the Host is numeric.
FakeAnswer answer_numeric_hosts_only(const std::string& request) {
    const std::string host = test_support::host_of(request);
    if (host.empty() || (host[0] != '[' && (host[0] < '0' || host[0] > '9'))) {
        return {http_reply("HTTP/1.0 400 Bad Request", "")};
    }
    return {http_reply("HTTP/1.0 200 OK", LIST)};
}

TEST(FetchOnce, AnswersA400WithTheNumericAddressConnectedTo) {
    FakeInspector fake(answer_numeric_hosts_only);
    const std::string name = "localhost:" + std::to_string(fake.port());
    const auto body = fetch_once(name, TARGET_LIST_PATH);
    ASSERT_TRUE(body.has_value()) << format_report(body.error());
    EXPECT_EQ(*body, LIST);
    ASSERT_EQ(fake.requests().size(), 2U);
    EXPECT_EQ(test_support::host_of(fake.requests()[0]), name);
    EXPECT_EQ(test_support::host_of(fake.requests()[1]), fake.address());

    // A numeric Host answered 400 is not asked again; neither is a peer that refuses both.
    FakeInspector always({{http_reply("HTTP/1.0 400 Bad Request", "")}});
    const auto numeric = fetch_once(always.address(), TARGET_LIST_PATH);
    ASSERT_FALSE(numeric.has_value());
    EXPECT_EQ(numeric.error().messages(),
              std::vector<std::string>{"inspector returned non-200: HTTP/1.0 400 Bad Request"});
    EXPECT_EQ(always.requests().size(), 1U);
    const auto hinted = fetch_once("localhost:" + std::to_string(always.port()), TARGET_LIST_PATH);
    ASSERT_FALSE(hinted.has_value());
    EXPECT_EQ(format_report(hinted.error()),
              "Error: inspector returned non-200: HTTP/1.0 400 Bad Request\n" +
                  numeric_host_hint(always.address()) + "\n");
    EXPECT_EQ(always.requests().size(), 3U);
}

TEST(FetchOnce, NamesBunWhenTheListIsMissingAndTheVersionSaysSo) {
    for (const bool bun : {true, false}) {
        SCOPED_TRACE(bun);
        FakeInspector fake([bun](const std::string& request) {
            if (request.starts_with("GET /json/version ")) {
                return FakeAnswer{http_reply(
                    "HTTP/1.1 200 OK", bun ? R"({"Browser":"Bun/1.1.38"})" : R"({"Browser":"x"})")};
            }
            return FakeAnswer{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"};
        });
        const auto body = fetch_once(fake.address(), TARGET_LIST_PATH);
        ASSERT_FALSE(body.has_value());
        const std::string status = "inspector returned non-200: HTTP/1.1 404 Not Found";
        EXPECT_EQ(body.error().messages(), std::vector<std::string>{status});
        EXPECT_EQ(format_report(body.error()),
                  "Error: " + status + (bun ? "\n" + std::string(BUN_HINT) : "") + "\n");
        ASSERT_EQ(fake.requests().size(), 2U);
        EXPECT_TRUE(fake.requests()[1].starts_with("GET /json/version HTTP/1.0\r\n"));
    }
}

TEST(NumericHost, NamesThePeerByNumberAndTheUnspecifiedAddressAsLoopback) {
    net::SocketAddress v4;
    v4.bytes = {10, 1, 2, 3};
    v4.port = 9229;
    EXPECT_EQ(numeric_host(v4), "10.1.2.3:9229");
    v4.bytes = {};
    EXPECT_EQ(numeric_host(v4), "127.0.0.1:9229");
    net::SocketAddress v6;
    v6.family = net::Family::V6;
    v6.port = 1;
    v6.scope_id = 3;
    EXPECT_EQ(numeric_host(v6), "[0:0:0:0:0:0:0:1]:1");
}

TEST(FetchOnce, ConnectFailuresCarryTheConnectContext) {
    test_support::RefusingPort refusing;
    const auto refused = fetch_once(refusing.address(), TARGET_LIST_PATH);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().messages(),
              (std::vector<std::string>{"connect to inspector at " + refusing.address(),
                                        os_error(ECONNREFUSED)}));

    const auto no_colon = fetch_once("9229", TARGET_LIST_PATH);
    ASSERT_FALSE(no_colon.has_value());
    EXPECT_EQ(no_colon.error().messages(),
              (std::vector<std::string>{"connect to inspector at 9229", "invalid socket address"}));

    const auto bad_port = fetch_once("127.0.0.1:70000", TARGET_LIST_PATH);
    ASSERT_FALSE(bad_port.has_value());
    EXPECT_EQ(bad_port.error().messages(),
              (std::vector<std::string>{"connect to inspector at 127.0.0.1:70000",
                                        "invalid port value"}));
}

TEST(FetchOnce, StopsAtTheDeclaredLengthOnAKeptOpenConnection) {
    // What node v20 does: Content-Length, then the connection stays open.
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST), /*close_after=*/false}});
    const auto start = std::chrono::steady_clock::now();
    const auto body = fetch_once(fake.address(), TARGET_LIST_PATH);
    ASSERT_TRUE(body.has_value()) << format_report(body.error());
    EXPECT_EQ(*body, LIST);
    EXPECT_LT(since(start), 1000ms);
}

TEST(FetchOnce, KeepsWhatAClosingPeerSentBeyondTheDeclaredLength) {
    FakeInspector fake({{"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n[]xyz"}});
    const auto body = fetch_once(fake.address(), TARGET_LIST_PATH);
    ASSERT_TRUE(body.has_value()) << format_report(body.error());
    EXPECT_EQ(*body, "[]xyz");
}

TEST(FetchOnce, ReadsUntilTheCloseWithoutALength) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST, /*with_length=*/false)}});
    const auto body = fetch_once(fake.address(), TARGET_LIST_PATH);
    ASSERT_TRUE(body.has_value()) << format_report(body.error());
    EXPECT_EQ(*body, LIST);
}

TEST(FetchOnce, ASilentPeerTimesOutAfterThreeSeconds) {
    // The same with one whole wait and with the waits in slices that a stop token which can be
    // stopped asks for (one that is never stopped here).
    const std::stop_source never;
    const FetchClock clock = FetchClock::system();
    for (const std::stop_token& stop : {std::stop_token{}, never.get_token()}) {
        SCOPED_TRACE(stop.stop_possible() ? "in slices" : "whole");
        FakeInspector fake({{"", /*close_after=*/false}});
        const auto start = std::chrono::steady_clock::now();
        const auto body =
            fetch_once(fake.address(), TARGET_LIST_PATH, stop, clock, clock.now() + 5s);
        const auto elapsed = since(start);
        ASSERT_FALSE(body.has_value());
        EXPECT_EQ(body.error().messages(), std::vector<std::string>{os_error(EAGAIN)});
        EXPECT_GE(elapsed, 2900ms);
        EXPECT_LT(elapsed, 4500ms);
    }
}

TEST(FetchOnce, BoundsTheReplyAtSixteenMebibytes) {
    const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
    // Exactly at the bound: accepted.
    {
        const std::string reply = head + std::string(MAX_REPLY_BYTES - head.size(), ' ');
        FakeInspector fake({{reply}});
        const auto body = fetch_once(fake.address(), TARGET_LIST_PATH);
        ASSERT_TRUE(body.has_value()) << format_report(body.error());
        EXPECT_EQ(body->size(), MAX_REPLY_BYTES - head.size());
    }
    // One byte over, from a peer that closes; and a peer that declares more and keeps sending.
    for (const bool with_length : {false, true}) {
        SCOPED_TRACE(with_length);
        const std::string big(MAX_REPLY_BYTES, ' ');
        FakeInspector fake(
            {{http_reply("HTTP/1.0 200 OK", big, with_length), /*close_after=*/!with_length}});
        const auto body = fetch_once(fake.address(), TARGET_LIST_PATH);
        ASSERT_FALSE(body.has_value());
        EXPECT_EQ(body.error().messages(), std::vector<std::string>{reply_too_large_message()});
    }
    EXPECT_EQ(reply_too_large_message(), "inspector reply exceeds 16 MiB (16777216 bytes)");
}

TEST(FetchTargetList, SucceedsWhenTheInspectorStartsLate) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST)}}, 2000ms);
    const auto start = std::chrono::steady_clock::now();
    const auto list = fetch_target_list(fake.address());
    ASSERT_TRUE(list.has_value()) << format_report(list.error());
    EXPECT_EQ(list->body, LIST);
    // Refused until the inspector listened: about 2 s of attempts RETRY_PAUSE apart.
    EXPECT_GT(list->failed_attempts, 1U);
    EXPECT_GE(since(start), 1900ms);
    EXPECT_LT(since(start), 3500ms);

    // An inspector that answers at once: no attempt failed.
    const auto at_once = fetch_target_list(fake.address());
    ASSERT_TRUE(at_once.has_value()) << format_report(at_once.error());
    EXPECT_EQ(at_once->failed_attempts, 0U);
}

// A clock that moves only when read or paused: each reading advances it by `step`.
struct FakeTime {
    std::chrono::steady_clock::time_point current{};
    std::chrono::milliseconds step{0};
    int pauses = 0;

    FetchClock clock() {
        return {.now = [this] { return current += step; },
                .pause =
                    [this](std::chrono::milliseconds pause, const std::stop_token& /*stop*/) {
                        current += pause;
                        ++pauses;
                    }};
    }
};

// The retry loop on a clock that moves only by its pauses: the attempts and pauses are counted
// exactly, and nothing sleeps.
TEST(FetchTargetList, RetriesFailedAttemptsAfterAPause) {
    FakeInspector fake(
        {{"HTTP/1.0 503 Busy\r\n\r\n"}, {"garbage"}, {http_reply("HTTP/1.0 200 OK", LIST)}});
    FakeTime time;
    const auto list = fetch_target_list(fake.address(), {}, time.clock());
    ASSERT_TRUE(list.has_value()) << format_report(list.error());
    EXPECT_EQ(list->body, LIST);
    EXPECT_EQ(list->failed_attempts, 2U);
    EXPECT_EQ(fake.requests().size(), 3U);
    EXPECT_EQ(time.pauses, 2);
    EXPECT_EQ(time.current - std::chrono::steady_clock::time_point{}, 2 * RETRY_PAUSE);
}

TEST(FetchTargetList, GivesUpAtTheDeadlineWithTheLastError) {
    FakeInspector fake({{"HTTP/1.0 500 first\r\n\r\n"}, {"HTTP/1.0 500 later\r\n\r\n"}});
    FakeTime time;
    const auto body = fetch_target_list(fake.address(), {}, time.clock());
    ASSERT_FALSE(body.has_value());
    EXPECT_EQ(body.error().messages(),
              std::vector<std::string>{"inspector returned non-200: HTTP/1.0 500 later"});
    // Attempts at 0, 150, ..., 5100 ms: the one that fails at or past the 5 s mark is the last.
    const auto pauses =
        (std::chrono::milliseconds(FETCH_DEADLINE) + RETRY_PAUSE - 1ms) / RETRY_PAUSE;
    EXPECT_EQ(time.pauses, pauses);
    EXPECT_EQ(fake.requests().size(), static_cast<std::size_t>(pauses) + 1);
}

TEST(FetchBound, ATricklingPeerCannotOutliveTheDeadlinePlusOneReceiveTimeout) {
    // One byte every 20 ms restarts every receive time-out; the clock says 400 ms pass per
    // reading, so the attempt's 8 s are spent after about 20 readings, in well under a second.
    FakeInspector fake({{"HTTP/1.0 200 OK\r\n", false, true, 20ms, /*trickle_forever=*/true}});
    FakeTime time{.step = 400ms};
    const FetchClock clock = time.clock();
    const auto start = std::chrono::steady_clock::now();
    const auto body = fetch_once(fake.address(), TARGET_LIST_PATH, {}, clock, time.current + 5s);
    ASSERT_FALSE(body.has_value());
    EXPECT_EQ(body.error().messages(), std::vector<std::string>{std::string(ATTEMPT_OVERTIME)});
    EXPECT_LT(since(start), 2000ms);
}

TEST(FetchBound, TheOvertimeMessageNamesTheBoundsInForce) {
    std::string expected = "inspector reply not complete within the fetch deadline (";
    expected += std::to_string(std::chrono::milliseconds(FETCH_DEADLINE).count());
    expected += " ms) and one receive time-out (";
    expected += std::to_string(RECEIVE_TIMEOUT.count());
    expected += " ms)";
    EXPECT_EQ(ATTEMPT_OVERTIME, expected);
}

TEST(FetchBound, TheLastReceiveWaitsOnlyForWhatIsLeft) {
    // A silent peer, and 600 ms left of the attempt when the receive starts (the deadline was
    // 2400 ms ago): the receive gives up after those 600 ms with the bound's message, not the
    // system's time-out after 3000 ms.
    FakeInspector fake({{"", false}});
    const FetchClock real = FetchClock::system();
    const auto start = std::chrono::steady_clock::now();
    const auto body = fetch_once(fake.address(), TARGET_LIST_PATH, {}, real, real.now() - 2400ms);
    ASSERT_FALSE(body.has_value());
    EXPECT_EQ(body.error().messages(), std::vector<std::string>{std::string(ATTEMPT_OVERTIME)});
    EXPECT_GE(since(start), 550ms);
    EXPECT_LT(since(start), 1500ms);
}

TEST(FetchBound, RetriesEveryPauseUntilTheDeadlineInFakeTime) {
    // Attempts at 0, 150, ... ms; the one at 5100 ms is the first to fail past the deadline.
    FakeInspector fake({{"HTTP/1.0 500 no\r\n\r\n"}});
    FakeTime time;
    const auto body = fetch_target_list(fake.address(), {}, time.clock());
    ASSERT_FALSE(body.has_value());
    EXPECT_EQ(fake.requests().size(), 35U);
    EXPECT_EQ(time.pauses, 34);
}

TEST(ConnectBound, APeerThatNeverAcceptsTimesOutWithTheSystemError) {
    test_support::StuckListener stuck;
    const auto addresses = net::resolve_inspector_addr(stuck.address());
    ASSERT_TRUE(addresses.has_value());
    for (const auto limit : {0ms, 300ms}) {
        SCOPED_TRACE(limit.count());
        const auto start = std::chrono::steady_clock::now();
        const auto connection = net::TcpConnection::connect(addresses->front(), limit);
        ASSERT_FALSE(connection.has_value());
        EXPECT_EQ(connection.error().messages(), std::vector<std::string>{os_error(ETIMEDOUT)});
        EXPECT_GE(since(start), limit);
        EXPECT_LT(since(start), limit + 500ms);
    }
}

// A stop source stopped `after` from now, from a thread of its own (joined on destruction).
struct StopLater {
    explicit StopLater(std::chrono::milliseconds after)
        : stopper([this, after](const std::stop_token& cancelled) {
              std::mutex mutex;
              std::condition_variable_any never;
              std::unique_lock lock(mutex);
              static_cast<void>(never.wait_for(lock, cancelled, after, [] { return false; }));
              if (!cancelled.stop_requested()) {
                  source.request_stop();
              }
          }) {}
    std::stop_source source;
    std::jthread stopper;
};

TEST(ConnectBound, AStopEndsTheWaitWithinASliceWithTheSystemTimeOut) {
    test_support::StuckListener stuck;
    const auto addresses = net::resolve_inspector_addr(stuck.address());
    ASSERT_TRUE(addresses.has_value());
    {
        const StopLater stop(250ms);
        const auto start = std::chrono::steady_clock::now();
        const auto connection =
            net::TcpConnection::connect(addresses->front(), 5000ms, stop.source.get_token());
        ASSERT_FALSE(connection.has_value());
        EXPECT_EQ(connection.error().messages(), std::vector<std::string>{os_error(ETIMEDOUT)});
        EXPECT_GE(since(start), 240ms);  // not before the stop
        EXPECT_LT(since(start), 250ms + net::WAIT_SLICE + 150ms);
    }
    // Already stopped: no wait at all.
    std::stop_source stopped;
    stopped.request_stop();
    const auto start = std::chrono::steady_clock::now();
    const auto connection =
        net::TcpConnection::connect(addresses->front(), 5000ms, stopped.get_token());
    ASSERT_FALSE(connection.has_value());
    EXPECT_EQ(connection.error().messages(), std::vector<std::string>{os_error(ETIMEDOUT)});
    EXPECT_LT(since(start), 50ms);
}

TEST(FetchClock, TheSystemPauseLastsItsLengthUnlessStopped) {
    const FetchClock clock = FetchClock::system();
    auto start = std::chrono::steady_clock::now();
    clock.pause(RETRY_PAUSE, {});
    EXPECT_GE(since(start), RETRY_PAUSE);

    const StopLater stop(100ms);
    start = std::chrono::steady_clock::now();
    clock.pause(5000ms, stop.source.get_token());
    EXPECT_GE(since(start), 90ms);
    EXPECT_LT(since(start), 600ms);
}

// A stopped lookup ends because it reads its stop token: the clock goes on as it was, the pause
// under way is the last, and no attempt follows it.
TEST(FetchTargetList, AStopEndsTheRetriesWithoutMovingTheClock) {
    FakeInspector fake({{"HTTP/1.0 503 Busy\r\n\r\n"}});
    FakeTime time;
    std::stop_source stop;
    FetchClock clock = time.clock();
    clock.pause = [&stop, fake_pause = clock.pause](std::chrono::milliseconds length,
                                                    const std::stop_token& token) {
        fake_pause(length, token);
        stop.request_stop();
    };
    const auto list = fetch_target_list(fake.address(), stop.get_token(), clock);
    ASSERT_FALSE(list.has_value());
    EXPECT_EQ(list.error().messages(),
              std::vector<std::string>{"inspector returned non-200: HTTP/1.0 503 Busy"});
    EXPECT_EQ(fake.requests().size(), 1U);
    EXPECT_EQ(time.pauses, 1);
    EXPECT_EQ(time.current - std::chrono::steady_clock::time_point{}, RETRY_PAUSE);
}

TEST(FetchTargetList, AStopEndsAnAttemptWaitingOnTheSocketWithinASlice) {
    // One peer never accepts (the connect waits, then gives the system's time-out error), the other
    // accepts and never says a word (the receive waits, then the attempt is over).
    test_support::StuckListener never_accepts;
    FakeInspector never_answers({{"", /*close_after=*/false}});
    struct Case {
        std::string address;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases = {
        {never_accepts.address(),
         {"connect to inspector at " + never_accepts.address(), os_error(ETIMEDOUT)}},
        {never_answers.address(), {std::string(ATTEMPT_OVERTIME)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const StopLater stop(300ms);
        const auto start = std::chrono::steady_clock::now();
        const auto list = fetch_target_list(c.address, stop.source.get_token());
        ASSERT_FALSE(list.has_value());
        EXPECT_EQ(list.error().messages(), c.messages);
        EXPECT_GE(since(start), 290ms);
        EXPECT_LT(since(start), 300ms + net::WAIT_SLICE + 200ms);
    }
    EXPECT_EQ(never_answers.requests().size(), 1U);
}

TEST(FetchTargetList, FailsAtOnceOnlyOnAddressesThatCanNeverWork) {
    // A fake clock that moves 100 ms per reading: a few attempts, and the pauses between them tell
    // retried from not.
    test_support::RefusingPort refusing;
    FakeInspector busy({{"HTTP/1.0 503 Busy\r\n\r\n"}});
    struct Case {
        std::string address;
        bool retried;
        std::string innermost;  // "" for a system error
    };
    const std::vector<Case> cases = {
        {"9229", false, "invalid socket address"},
        {"127.0.0.1", false, "invalid socket address"},
        {"localhost", false, "invalid socket address"},
        {"-h", false, "invalid socket address"},
        {"", false, "invalid socket address"},
        {"127.0.0.1:70000", false, "invalid port value"},
        {"127.0.0.1:", false, "invalid port value"},
        {"127.0.0.1:+", false, "invalid port value"},
        {"localhost:x", false, "invalid port value"},
        // May work later: nobody listens yet, a name not resolvable yet, a busy inspector.
        {refusing.address(), true, ""},
        {"no-such-host.invalid:9229", true, ""},
        {busy.address(), true, "inspector returned non-200: HTTP/1.0 503 Busy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        FakeTime time{.step = 100ms};
        const auto body = fetch_target_list(c.address, {}, time.clock());
        ASSERT_FALSE(body.has_value());
        EXPECT_EQ(time.pauses > 0, c.retried) << time.pauses;
        const auto& messages = body.error().messages();
        if (!c.retried) {
            EXPECT_EQ(messages, (std::vector<std::string>{"connect to inspector at " + c.address,
                                                          c.innermost}));
        } else if (!c.innermost.empty()) {
            EXPECT_EQ(messages.back(), c.innermost);
        } else {
            EXPECT_NE(messages.back().find(" (os error "), std::string::npos) << messages.back();
        }
    }
}

TEST(DiscoverTarget, AttachesToAWebSocketAddressWithoutAnyRequest) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", LIST)}});
    const InspectorAddress address = WsTarget{fake.address() + "/id", true};
    const auto target = discover_target(address, "ignored");
    ASSERT_TRUE(target.has_value()) << format_report(target.error());
    EXPECT_EQ(target->target.address, fake.address() + "/id");
    EXPECT_TRUE(target->target.secure);
    EXPECT_TRUE(target->direct);
    EXPECT_TRUE(fake.requests().empty());

    const auto listed = discover_target(ListenerAddress{fake.address()}, "0");
    ASSERT_TRUE(listed.has_value()) << format_report(listed.error());
    EXPECT_EQ(listed->target.address, "127.0.0.1:1/abc");
    EXPECT_FALSE(listed->direct);
    EXPECT_EQ(fake.requests().size(), 1U);
}

TEST(DiscoverWsTarget, WrapsEveryFailureInTheOuterContext) {
    FakeInspector fake({{http_reply("HTTP/1.0 200 OK", "[]")}});
    const auto target = discover_ws_target(fake.address());
    ASSERT_FALSE(target.has_value());
    EXPECT_EQ(target.error().messages(),
              (std::vector<std::string>{
                  "failed to read inspector targets from http://" + fake.address() + "/json",
                  "no webSocketDebuggerUrl in inspector /json: []"}));

    FakeInspector fine({{http_reply("HTTP/1.0 200 OK", LIST), false}});
    const auto found = discover_ws_target(fine.address());
    ASSERT_TRUE(found.has_value()) << format_report(found.error());
    EXPECT_EQ(*found, (WsTarget{"127.0.0.1:1/abc", false}));
}

}  // namespace
}  // namespace quelby
