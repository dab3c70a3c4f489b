// The --serve HTTP server in process, on a free loopback port, against a real socket client.
#include "quelby/serve/frontend_server.h"
#include "quelby/core/byte_text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "quelby/assets/asset_table.h"
#include "quelby/serve/serve_rules.h"
#include "support/http_client.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::http_request;
using test_support::HttpConnection;

constexpr std::string_view FRONT_END_TARGET =
    "/js_app.html?ws=127.0.0.1:9229/abc&experiments=true&v8only=true";
constexpr std::string_view LARGEST_FILE = "third_party/lighthouse/lighthouse-dt-bundle.js";

const AssetEntry& entry(std::string_view path) {
    const AssetEntry* found = AssetTable::lookup(path);
    EXPECT_NE(found, nullptr) << path;
    return *found;
}

class FrontendServerTest : public ::testing::Test {
  protected:
    // The size of the server's connection table.
    [[nodiscard]] virtual std::size_t connection_limit() const { return SERVE_MAX_CONNECTIONS; }
    void SetUp() override {
        auto listening =
            FrontendServer::listen("127.0.0.1:0", FrontendServer::StopOn::Call, connection_limit());
        ASSERT_TRUE(listening.has_value()) << listening.error().messages().front();
        server_ = std::move(*listening);
        thread_ =
            std::thread([this] { static_cast<void>(server_->run(std::string(FRONT_END_TARGET))); });
    }
    void TearDown() override {
        if (server_) {
            server_->stop();
            thread_.join();
        }
    }
    [[nodiscard]] std::uint16_t port() const { return server_->port(); }

    std::unique_ptr<FrontendServer> server_;
    std::thread thread_;
};

// What the answers are is serve_response_test's table; here, that the session sends each kind as
// decided, from the head as it came over the wire.
TEST_F(FrontendServerTest, SendsEachKindOfAnswerAsDecided) {
    EXPECT_EQ(server_->origin(), "http://127.0.0.1:" + std::to_string(port()));

    // The largest file, byte for byte, with every field of a file.
    const AssetEntry& largest = entry(LARGEST_FILE);
    const auto file = http_request(port(), "GET", "/" + std::string(LARGEST_FILE));
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->status, 200);
    EXPECT_EQ(file->body, as_text(largest.bytes));
    EXPECT_EQ(file->header("Content-Length"), std::to_string(largest.bytes.size()));
    EXPECT_EQ(file->header("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(file->header("ETag"), serve::entity_tag(largest.sha256));
    EXPECT_EQ(file->header("Last-Modified"), serve::http_date(*largest.last_modified));
    EXPECT_EQ(file->header("Cache-Control"), "no-cache");
    EXPECT_EQ(file->header("X-Content-Type-Options"), "nosniff");
    EXPECT_TRUE(serve::parse_http_date(file->header("Date").value_or(""))) << *file->header("Date");
    EXPECT_EQ(file->header("Connection"), std::nullopt);

    // A 304: no length, no body, whatever the file's.
    const AssetEntry& svg = entry("Images/3d-center.svg");
    const auto unchanged = http_request(port(), "GET", "/Images/3d-center.svg",
                                        {"If-None-Match: " + serve::entity_tag(svg.sha256)});
    ASSERT_TRUE(unchanged.has_value());
    EXPECT_EQ(unchanged->status, 304);
    EXPECT_EQ(unchanged->header("Content-Length"), std::nullopt);
    EXPECT_EQ(unchanged->body, "");

    const auto missing = http_request(port(), "GET", "/missing.js");
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->status, 404);
    EXPECT_EQ(missing->header("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(missing->body, "Not Found");

    const auto root = http_request(port(), "GET", "/?x=1");
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->status, 302);
    EXPECT_EQ(root->header("Location"), FRONT_END_TARGET);
    EXPECT_EQ(root->header("Cache-Control"), "no-store");
    EXPECT_EQ(root->header("Content-Length"), "0");

    // The Host field and the target as sent.
    for (const std::string_view request :
         {"GET /js_app.html HTTP/1.1\r\nHost: evil.example\r\n\r\n",
          "GET /js_app.html HTTP/1.1\r\nhost: evil.example\r\n\r\n",
          "GET http://evil.example/js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"}) {
        HttpConnection connection(port());
        ASSERT_TRUE(connection.send(request));
        const auto reply = connection.read_reply();
        ASSERT_TRUE(reply.has_value()) << request;
        EXPECT_EQ(reply->status, 403) << request;
        EXPECT_EQ(reply->body, "Forbidden") << request;
    }

    // A refusal that ends the connection says so, and does.
    HttpConnection refused(port());
    ASSERT_TRUE(refused.send("BREW /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const auto brew = refused.read_reply();
    ASSERT_TRUE(brew.has_value());
    EXPECT_EQ(brew->status, 405);
    EXPECT_EQ(brew->header("Allow"), "GET, HEAD");
    EXPECT_EQ(brew->header("Connection"), "close");
    EXPECT_TRUE(refused.closed_by_peer());
}

TEST_F(FrontendServerTest, HeadSendsTheHeadersOnlyAndTheConnectionCarriesOn) {
    const AssetEntry& file = entry("js_app.html");
    HttpConnection connection(port());
    ASSERT_TRUE(
        connection.send("HEAD /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                        "GET /Images/3d-center.svg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const auto head = connection.read_reply(/*no_body=*/true);
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->header("Content-Length"), std::to_string(file.bytes.size()));
    EXPECT_EQ(head->header("Content-Type"), "text/html; charset=utf-8");
    // Had the HEAD answer carried a body, this reply would start inside it.
    const auto next = connection.read_reply();
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(next->status, 200);
    EXPECT_EQ(next->body, as_text(entry("Images/3d-center.svg").bytes));
}

// An error answered to a HEAD has no body either: a client reading the next reply on the same
// connection would otherwise start inside it ("ForbiddenHTTP/1.1 404").
TEST_F(FrontendServerTest, AHeadOfAnErrorHasNoBodyAndTheConnectionStaysInStep) {
    for (const std::string_view refused :
         {"HEAD /js_app.html HTTP/1.1\r\nHost: evil.example\r\n\r\n",
          "HEAD /no-such-file HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"}) {
        HttpConnection connection(port());
        ASSERT_TRUE(
            connection.send(std::string(refused) +
                            "GET /Images/3d-center.svg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
        const auto head = connection.read_reply(/*no_body=*/true);
        ASSERT_TRUE(head.has_value()) << refused;
        EXPECT_TRUE(head->status == 403 || head->status == 404) << refused;
        const auto next = connection.read_reply();
        ASSERT_TRUE(next.has_value()) << refused;
        EXPECT_EQ(next->status, 200) << refused;
        EXPECT_EQ(next->body, as_text(entry("Images/3d-center.svg").bytes)) << refused;
    }
}

// A body framed by anything but chunked has no length the server can read: it is refused and the
// connection ends, so that what follows is never answered as a request of its own. A chunked body
// is a body like any other: the request is answered, and the connection ends (bodies are not read).
TEST_F(FrontendServerTest, ATransferEncodingThatDoesNotEndInChunkedIsRefusedAndEndsTheConnection) {
    HttpConnection chunked(port());
    ASSERT_TRUE(
        chunked.send("GET /Images/3d-center.svg HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                     "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n"
                     "GET /smuggled HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const auto answered = chunked.read_reply();
    ASSERT_TRUE(answered.has_value());
    EXPECT_EQ(answered->status, 200);
    EXPECT_EQ(answered->header("Connection"), "close");
    EXPECT_TRUE(chunked.closed_by_peer());

    for (const std::string_view coding : {"gzip", "identity", "chunked, gzip"}) {
        HttpConnection connection(port());
        ASSERT_TRUE(connection.send(
            "GET /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            "Transfer-Encoding: " +
            std::string(coding) + "\r\n\r\nGET /smuggled HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
        const auto reply = connection.read_reply();
        ASSERT_TRUE(reply.has_value()) << coding;
        EXPECT_EQ(reply->status, 400) << coding;
        EXPECT_TRUE(connection.closed_by_peer()) << coding;
    }
}

// A refused request with a body still gets its answer, not lost to a reset caused by the body left
// unread; then the connection ends.
TEST_F(FrontendServerTest, ARefusedRequestWithABodyIsAnsweredThenTheConnectionEnds) {
    HttpConnection connection(port());
    ASSERT_TRUE(connection.send(
        "POST /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\n" +
        std::string(100000, 'x')));
    const auto reply = connection.read_reply();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, 405);
    EXPECT_EQ(reply->header("Connection"), "close");
    // The server lingers, reading what is left of the body, rather than resetting the connection
    // (which may take the answer with it on the way to the client).
    EXPECT_TRUE(connection.closed_without_reset());
}

// The parser's limits, and the answers to heads it could not read (or, for too many fields, read
// and refused), each on a connection that then ends.
TEST_F(FrontendServerTest, OversizedOrMalformedRequestsGetAClientErrorAndTheServerCarriesOn) {
    const std::string long_line =
        "GET /" + std::string(1 << 20, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::string many_fields = "GET /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (std::size_t i = 0; i <= SERVE_MAX_FIELDS; ++i) {
        many_fields += "X-" + std::to_string(i) + ": 1\r\n";
    }
    many_fields += "\r\n";
    const std::string body_over_limit =
        "Content-Length: " + std::to_string(SERVE_BODY_LIMIT + 1) + "\r\n\r\n";
    const std::pair<std::string, int> cases[] = {
        {long_line, 414},
        // The same target without the rest of the line: the target is what does not fit.
        {"GET /" + std::string(SERVE_HEADER_LIMIT, 'a'), 414},
        // The line fits; the fields after it do not.
        {"GET /" + std::string(SERVE_HEADER_LIMIT / 2, 'a') +
             " HTTP/1.1\r\nX: " + std::string(SERVE_HEADER_LIMIT, 'v'),
         431},
        {"POST /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n" + body_over_limit, 413},
        {"GET /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n" + body_over_limit, 413},
        {many_fields, 431},
        {"GET /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\nX: " +
             std::string(SERVE_HEADER_LIMIT, 'v') + "\r\n\r\n",
         431},
        {"NOT HTTP AT ALL\r\n\r\n", 400},
        {"GET /js_app.html HTTP/9.9\r\nHost: 127.0.0.1\r\n\r\n", 400},
        {"GET /js app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 400},
    };
    for (const auto& [request, status] : cases) {
        HttpConnection connection(port());
        static_cast<void>(connection.send(request));  // the server may stop reading early
        const auto reply = connection.read_reply();
        ASSERT_TRUE(reply.has_value()) << request.substr(0, 40);
        EXPECT_EQ(reply->status, status) << request.substr(0, 40);
        EXPECT_TRUE(connection.closed_by_peer());
    }
    const auto after = http_request(port(), "GET", "/js_app.html");
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->status, 200);
}

// A client may end what it sent before with a line break too many: one empty line before the
// request line is skipped, on a new connection and between kept-alive requests, but no more.
TEST_F(FrontendServerTest, OneEmptyLineBeforeTheRequestLineIsIgnored) {
    const std::string request = "GET /Images/3d-center.svg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const std::string svg(as_text(entry("Images/3d-center.svg").bytes));
    HttpConnection connection(port());
    ASSERT_TRUE(connection.send("\r\n" + request + "\r\n" + request + request));
    for (int i = 0; i < 3; ++i) {
        const auto reply = connection.read_reply();
        ASSERT_TRUE(reply.has_value()) << i;
        EXPECT_EQ(reply->status, 200) << i;
        EXPECT_EQ(reply->body, svg) << i;
    }
    for (const std::string_view before : {"\r\n\r\n", " \r\n"}) {
        HttpConnection refused(port());
        ASSERT_TRUE(refused.send(std::string(before) + request));
        const auto reply = refused.read_reply();
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->status, 400);
    }
}

TEST_F(FrontendServerTest, SlowClientsDoNotStallOthers) {
    // One client sends half a request line and stops; another asks for the largest file and does
    // not read it; a third must still be answered at once.
    HttpConnection silent(port());
    ASSERT_TRUE(silent.send("GET /js_app.ht"));
    HttpConnection not_reading(port());
    not_reading.set_receive_buffer(4096);
    ASSERT_TRUE(not_reading.send("GET /" + std::string(LARGEST_FILE) +
                                 " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < 20; ++i) {
        const auto started = std::chrono::steady_clock::now();
        const auto reply = http_request(port(), "GET", "/entrypoints/js_app/js_app.js");
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->status, 200);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    }
    // The stalled one is being served all the same (its body trickles through a tiny window).
    const auto large = not_reading.read_reply(/*no_body=*/true);
    ASSERT_TRUE(large.has_value());
    EXPECT_EQ(large->status, 200);
    EXPECT_EQ(large->header("Content-Length"), std::to_string(entry(LARGEST_FILE).bytes.size()));
}

TEST_F(FrontendServerTest, KeepsConnectionsAliveAndAnswersPipelinedRequestsInOrder) {
    HttpConnection connection(port());
    std::string requests;
    const std::string_view paths[] = {"/js_app.html", "/missing", "/Images/3d-center.svg"};
    for (const std::string_view path : paths) {
        requests += "GET " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    }
    ASSERT_TRUE(connection.send(requests));
    const int statuses[] = {200, 404, 200};
    for (const int status : statuses) {
        const auto reply = connection.read_reply();
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->status, status);
    }
    // HTTP/1.0 asking for keep-alive: kept, and told so.
    HttpConnection kept(port());
    const std::string kept_alive =
        "GET /js_app.html HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n";
    ASSERT_TRUE(kept.send(kept_alive + kept_alive));
    for (int i = 0; i < 2; ++i) {
        const auto reply = kept.read_reply();
        ASSERT_TRUE(reply.has_value()) << i;
        EXPECT_EQ(reply->version, "HTTP/1.0") << i;
        EXPECT_EQ(reply->status, 200) << i;
        EXPECT_EQ(reply->header("Connection"), "keep-alive") << i;
    }
    // HTTP/1.0 without keep-alive: answered, then closed.
    HttpConnection old(port());
    ASSERT_TRUE(old.send("GET /js_app.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"));
    const auto reply = old.read_reply();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->version, "HTTP/1.0");
    EXPECT_EQ(reply->status, 200);
    EXPECT_TRUE(old.closed_by_peer());
}

// A full connection table never turns a new client away: the connection that has gone longest
// without completing a request makes room for it.
class FullConnectionTable : public FrontendServerTest {
  protected:
    static constexpr std::size_t LIMIT = 4;
    [[nodiscard]] std::size_t connection_limit() const override { return LIMIT; }
    // One request on `connection`, answered.
    [[nodiscard]] static bool served(HttpConnection& connection) {
        if (!connection.send("HEAD /js_app.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) {
            return false;
        }
        const auto reply = connection.read_reply(/*no_body=*/true);
        return reply && reply->status == 200;
    }
};

TEST_F(FullConnectionTable, ClientsThatNeverFinishARequestMakeRoomOldestFirst) {
    std::vector<std::unique_ptr<HttpConnection>> stalled;
    for (std::size_t i = 0; i < LIMIT; ++i) {
        stalled.push_back(std::make_unique<HttpConnection>(server_->port()));
        ASSERT_TRUE(stalled.back()->send("GET /js_app.ht"));
    }
    // Each new client stays connected, so that the table is full again for the next.
    std::vector<std::unique_ptr<HttpConnection>> fresh;
    for (std::size_t i = 0; i < 2; ++i) {
        fresh.push_back(std::make_unique<HttpConnection>(server_->port()));
        EXPECT_TRUE(served(*fresh.back())) << i;
        EXPECT_TRUE(stalled[i]->closed_by_peer()) << i;
    }
    // The later ones still hold their place and may finish their request.
    ASSERT_TRUE(stalled[3]->send("ml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const auto reply = stalled[3]->read_reply();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, 200);
}

TEST_F(FullConnectionTable, AKeptAliveConnectionThatIsStillAskingKeepsItsPlace) {
    std::vector<std::unique_ptr<HttpConnection>> kept;
    for (std::size_t i = 0; i < LIMIT; ++i) {
        kept.push_back(std::make_unique<HttpConnection>(server_->port()));
        ASSERT_TRUE(served(*kept.back())) << i;
    }
    // The first asks again: the second is now the one that has waited longest.
    ASSERT_TRUE(served(*kept[0]));
    HttpConnection fresh(server_->port());
    EXPECT_TRUE(served(fresh));
    EXPECT_TRUE(kept[1]->closed_by_peer());
    for (const std::size_t i : {0, 2, 3}) {
        EXPECT_TRUE(served(*kept[i])) << i;
    }
    EXPECT_TRUE(served(fresh));
}

// "/" after the debuggee restarted: where the lookup says now, else where it said last.
class RootLookup : public ::testing::Test {
  protected:
    void start(FrontendServer::FrontEndLookup lookup) {
        auto listening = FrontendServer::listen("127.0.0.1:0");
        ASSERT_TRUE(listening.has_value());
        server_ = std::move(*listening);
        thread_ = std::thread([this, lookup = std::move(lookup)] {
            static_cast<void>(server_->run(std::string(FRONT_END_TARGET), lookup));
        });
    }
    void TearDown() override {
        if (server_) {
            server_->stop();
            thread_.join();
        }
    }
    [[nodiscard]] std::optional<std::string> location() const {
        const auto reply = http_request(server_->port(), "GET", "/");
        if (!reply || reply->status != 302) {
            return std::nullopt;
        }
        return reply->header("Location");
    }

    std::unique_ptr<FrontendServer> server_;
    std::thread thread_;
};

TEST_F(RootLookup, EachRequestOfRootLooksAgainAndAFailedLookupKeepsTheLastAnswer) {
    std::atomic<int> lookups{0};
    start([&](std::stop_token) -> std::optional<std::string> {
        switch (++lookups) {
            case 1:
                return "/js_app.html?ws=127.0.0.1:9229/second";
            case 2:
                return std::nullopt;  // the inspector is not back yet
            default:
                return "/js_app.html?wss=127.0.0.1:9229/third";
        }
    });
    EXPECT_EQ(location(), "/js_app.html?ws=127.0.0.1:9229/second");
    EXPECT_EQ(location(), "/js_app.html?ws=127.0.0.1:9229/second");
    EXPECT_EQ(location(), "/js_app.html?wss=127.0.0.1:9229/third");
    EXPECT_EQ(lookups.load(), 3);
    // The files themselves never wait for a lookup.
    const auto page = http_request(server_->port(), "GET", "/js_app.html");
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(lookups.load(), 3);
}

TEST_F(RootLookup, RequestsDuringALookupShareItsAnswerAndOtherFilesAreServedMeanwhile) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> lookups{0};
    start([&](std::stop_token) -> std::optional<std::string> {
        ++lookups;
        released.wait();
        return "/js_app.html?ws=127.0.0.1:9229/new";
    });
    auto first = std::async(std::launch::async, [this] { return location(); });
    while (lookups.load() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    auto second = std::async(std::launch::async, [this] { return location(); });
    // The server is not held up by the lookup.
    const auto page = http_request(server_->port(), "GET", "/js_app.html");
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->status, 200);
    std::this_thread::sleep_for(300ms);  // the second request is in
    release.set_value();
    EXPECT_EQ(first.get(), "/js_app.html?ws=127.0.0.1:9229/new");
    EXPECT_EQ(second.get(), "/js_app.html?ws=127.0.0.1:9229/new");
    EXPECT_EQ(lookups.load(), 1);
}

TEST_F(RootLookup, StoppingTheServerEndsALookupUnderWay) {
    start([](std::stop_token stop) -> std::optional<std::string> {
        while (!stop.stop_requested()) {
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    });
    HttpConnection waiting(server_->port());
    ASSERT_TRUE(waiting.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    std::this_thread::sleep_for(100ms);
    const auto stop_started = std::chrono::steady_clock::now();
    server_->stop();
    thread_.join();
    server_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stop_started, 1s);
}

TEST(FrontendServerListen, ReportsAddressesItCannotServeOn) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"nonsense", "invalid socket address"},
        {"127.0.0.1:70000", "invalid port value"},
        {"192.0.2.1:0", "(os error 99)"},  // not an address of this machine
    };
    for (const auto& [address, cause] : cases) {
        const auto result = FrontendServer::listen(address);
        ASSERT_FALSE(result.has_value()) << address;
        const auto& messages = result.error().messages();
        EXPECT_EQ(messages.front(), "failed to serve the front end on " + std::string(address));
        EXPECT_NE(messages.back().find(cause), std::string::npos) << messages.back();
    }
    // A port in use.
    auto first = FrontendServer::listen("127.0.0.1:0");
    ASSERT_TRUE(first.has_value());
    const std::string taken = "127.0.0.1:" + std::to_string((*first)->port());
    const auto second = FrontendServer::listen(taken);
    ASSERT_FALSE(second.has_value());
    EXPECT_NE(second.error().messages().back().find("(os error 98)"), std::string::npos);
}

TEST(FrontendServerListen, ServesOnIpv6LoopbackAndByName) {
    auto v6 = FrontendServer::listen("[::1]:0");
    if (!v6) {
        GTEST_SKIP() << "no IPv6 loopback here: " << v6.error().messages().back();
    }
    EXPECT_EQ((*v6)->origin(), "http://[::1]:" + std::to_string((*v6)->port()));
    FrontendServer& server = **v6;
    std::thread thread([&] { static_cast<void>(server.run("/")); });
    HttpConnection connection(server.port(), /*ipv6=*/true);
    ASSERT_TRUE(connection.send("GET /js_app.html HTTP/1.1\r\nHost: [::1]:1\r\n\r\n"));
    const auto reply = connection.read_reply();
    server.stop();
    thread.join();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, 200);

    auto named = FrontendServer::listen("localhost:0");
    ASSERT_TRUE(named.has_value());
    EXPECT_EQ((*named)->origin(), "http://localhost:" + std::to_string((*named)->port()));
}

// The unspecified address, however it is written, is shown as the loopback address, which a
// browser on this machine can open; a name for it ("0", "0.0") is no address to print.
TEST(FrontendServerListen, AnyAddressInItsShortFormsIsShownAsLoopback) {
    for (const std::string_view address : {"0.0.0.0:0", "0:0", "0.0:0", "0.0.0:0"}) {
        auto any = FrontendServer::listen(address);
        ASSERT_TRUE(any.has_value()) << address;
        EXPECT_EQ((*any)->origin(), "http://127.0.0.1:" + std::to_string((*any)->port()))
            << address;
    }
}

}  // namespace
}  // namespace quelby
