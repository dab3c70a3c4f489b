// http: loads through WinHTTP (Wine's here) against a scripted Winsock server on the loopback
// address: bodies in whole UTF-8 chunks, the front end's headers, redirects and their limits, error
// statuses, the size limit, cut bodies, refused connections, the address forms, and the sink or a
// stop request ending a load, also one blocked on a silent server.
#include <winsock2.h>
// After winsock2.h, which must come before windows.h.
#include <windows.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quelby/core/utf8.h"
#include "quelby/resources/resource_load.h"
#include "support/http_text.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;

struct Answer {
    std::string bytes;
    bool close_after = true;  // false: the connection stays open, silent, until the server goes
};

// One connection at a time: each request is read up to its blank line, recorded, and answered.
class LoopbackServer {
  public:
    // On 127.0.0.1, or on ::1 with `family` AF_INET6.
    explicit LoopbackServer(std::function<Answer(const std::string& request)> respond,
                            int family = AF_INET)
        : respond_(std::move(respond)), family_(family) {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_storage address{};
        int length = 0;
        if (family == AF_INET6) {
            auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
            v6.sin6_family = AF_INET6;
            v6.sin6_addr = in6addr_loopback;
            length = sizeof v6;
        } else {
            auto& v4 = reinterpret_cast<sockaddr_in&>(address);
            v4.sin_family = AF_INET;
            v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof v4;
        }
        listening_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                     ::listen(listener_, 8) == 0 &&
                     ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                         : reinterpret_cast<sockaddr_in&>(address).sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    ~LoopbackServer() {
        stopping_ = true;
        thread_.join();
        for (const SOCKET held : held_) {
            closesocket(held);
        }
        closesocket(listener_);
        WSACleanup();
    }

    [[nodiscard]] bool listening() const { return listening_; }
    [[nodiscard]] std::string authority() const {
        return (family_ == AF_INET6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port_);
    }
    [[nodiscard]] std::string origin() const { return "http://" + authority(); }
    [[nodiscard]] std::vector<std::string> requests() const {
        const std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    // Whether `socket` becomes readable (or writable) within a slice; the loops around it look at
    // `stopping_` between slices, so the server never outlives its test.
    static bool ready(SOCKET socket, bool for_writing) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval slice{.tv_sec = 0, .tv_usec = 50'000};
        return ::select(0, for_writing ? nullptr : &set, for_writing ? &set : nullptr, nullptr,
                        &slice) == 1;
    }

    void serve() {
        while (!stopping_) {
            if (!ready(listener_, false)) {
                continue;
            }
            const SOCKET client = ::accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET) {
                continue;
            }
            std::string request;
            char buffer[4096];
            while (!stopping_ && request.find("\r\n\r\n") == std::string::npos) {
                if (!ready(client, false)) {
                    continue;
                }
                const int count = ::recv(client, buffer, sizeof buffer, 0);
                if (count <= 0) {
                    break;
                }
                request.append(buffer, static_cast<std::size_t>(count));
            }
            {
                const std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            const Answer answer = respond_(request);
            send_all(client, answer.bytes);
            if (answer.close_after) {
                ::shutdown(client, SD_SEND);
                closesocket(client);
            } else {
                held_.push_back(client);
            }
        }
    }

    // Gives up when the client stops reading and the server is going.
    void send_all(SOCKET client, std::string_view bytes) const {
        while (!bytes.empty() && !stopping_) {
            if (!ready(client, true)) {
                continue;
            }
            const int sent = ::send(client, bytes.data(), static_cast<int>(bytes.size()), 0);
            if (sent <= 0) {
                return;
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
    }

    std::function<Answer(const std::string&)> respond_;
    int family_;
    bool listening_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<SOCKET> held_;  // only the server's thread touches it until the join
    std::thread thread_;
};

using test_support::host_of;
using test_support::path_of;
using test_support::plain_text_reply;

struct Loaded {
    LoadOutcome outcome;
    std::vector<std::string> chunks;

    [[nodiscard]] std::string joined() const {
        std::string all;
        for (const std::string& chunk : chunks) {
            all += chunk;
        }
        return all;
    }
};

constexpr LoadLimits SMALL_LIMITS{.max_bytes = 1U << 20U, .chunk_bytes = 4096};

Loaded load(const std::string& url, LoadLimits limits = SMALL_LIMITS, std::string_view headers = {},
            std::stop_token stop = {}) {
    Loaded loaded;
    loaded.outcome = load_resource(
        url, headers, limits,
        [&](std::string chunk) {
            loaded.chunks.push_back(std::move(chunk));
            return true;
        },
        std::move(stop));
    return loaded;
}

void expect_failure(const Loaded& loaded, int status_code, int net_error, const char* name) {
    EXPECT_EQ(loaded.outcome.status_code, status_code);
    EXPECT_EQ(loaded.outcome.net_error, net_error);
    EXPECT_EQ(loaded.outcome.net_error_name, name);
}

// ASCII, two-, three- and four-byte sequences at every offset modulo the small chunk sizes.
std::string mixed_text(std::size_t repeats) {
    std::string text;
    for (std::size_t i = 0; i < repeats; ++i) {
        text +=
            "a\xC3\xA9"
            "b\xE2\x82\xAC\xF0\x9F\x98\x80"
            "cd\xE6\x97\xA5\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";
        text.append(i % 5, 'x');
    }
    return text;
}

TEST(WinHttpLoad, BodiesArriveIntactInWholeUtf8ChunksWithTheFrontEndsHeaders) {
    const std::string body = mixed_text(4000);  // over 100 KiB: several reads
    LoopbackServer server([&](const std::string& request) {
        const bool with_length = path_of(request) != "/no-length.js.map";
        return Answer{.bytes = plain_text_reply("HTTP/1.1 200 OK", body, {}, with_length)};
    });
    // Malformed lines are left out; none may smuggle in a header of its own.
    const std::string headers =
        "X-Probe: one\r\nno colon here\r\n: no name\r\nX-Split: a\rX-Smuggled: b\r\nX-Other: two";
    for (const char* path : {"/app.js.map", "/no-length.js.map"}) {
        for (const std::size_t chunk_bytes : {7U, 4096U}) {
            SCOPED_TRACE(std::string(path) + ", chunks of " + std::to_string(chunk_bytes));
            const Loaded loaded =
                load(server.origin() + path + "?v=1#section",
                     {.max_bytes = 1U << 20U, .chunk_bytes = chunk_bytes}, headers);
            ASSERT_TRUE(loaded.outcome.succeeded()) << loaded.outcome.net_error_name;
            EXPECT_EQ(loaded.outcome.status_code, 200);
            EXPECT_EQ(loaded.joined(), body);
            EXPECT_GT(loaded.chunks.size(), 1U);
            for (const std::string& chunk : loaded.chunks) {
                ASSERT_LE(chunk.size(), chunk_bytes);
                ASSERT_TRUE(is_valid_utf8(chunk)) << "a chunk cuts a sequence";
            }
        }
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_EQ(path_of(requests[0]), "/app.js.map?v=1") << "the fragment stays with the client";
    for (const char* sent : {"\r\nX-Probe: one\r\n", "\r\nX-Other: two\r\n"}) {
        EXPECT_NE(requests[0].find(sent), std::string::npos) << requests[0];
    }
    for (const char* left_out : {"no colon", "no name", "X-Split", "X-Smuggled"}) {
        EXPECT_EQ(requests[0].find(left_out), std::string::npos) << requests[0];
    }
}

TEST(WinHttpLoad, ACompressedReplyIsDecodedWhereTheSystemAsksForOne) {
    // The text, and its gzip form (Python's gzip.compress(text, mtime=0)).
    std::string text;
    for (int line = 0; line < 40; ++line) {
        text += "export const answer = 42; // \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n";
    }
    const std::string gzipped(
        "\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03\x4B\xAD\x28\xC8\x2F\x2A\x51\x48\xCE\xCF\x2B"
        "\x2E\x51\x48\xCC\x2B\x2E\x4F\x2D\x52\xB0\x55\x30\x31\xB2\x56\xD0\xD7\x57\x38\xBC\xF2"
        "\x51\xD3\x9A\x0F\xF3\x67\x34\x70\xA5\x8E\x2A\x1B\x55\x36\xAA\x6C\x54\xD9\xA8\xB2\x91"
        "\xA1\x0C\x00\x97\x2F\xE3\x67\x18\x06\x00\x00",
        74);
    // Windows 8.1 and later ask for gzip and decode it; Wine asks for no encoding and gets none.
    LoopbackServer server([&](const std::string& request) {
        std::string lower;
        for (const char c : request) {
            lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
        const std::size_t asked = lower.find("\r\naccept-encoding:");
        if (asked != std::string::npos &&
            lower.find("gzip", asked) < lower.find("\r\n", asked + 2)) {
            return Answer{.bytes = plain_text_reply("HTTP/1.1 200 OK", gzipped,
                                                    "Content-Encoding: gzip\r\n")};
        }
        return Answer{.bytes = plain_text_reply("HTTP/1.1 200 OK", text)};
    });
    const Loaded loaded =
        load(server.origin() + "/packed.js", {.max_bytes = 1U << 20U, .chunk_bytes = 64});
    ASSERT_TRUE(loaded.outcome.succeeded()) << loaded.outcome.net_error_name;
    EXPECT_EQ(loaded.joined(), text);
    for (const std::string& chunk : loaded.chunks) {
        ASSERT_TRUE(is_valid_utf8(chunk)) << "a chunk cuts a sequence";
    }
    const bool compressed = server.requests().front().find("gzip") != std::string::npos;
    std::printf("  the reply came %s\n", compressed ? "compressed" : "as plain text");
}

TEST(WinHttpLoad, RedirectsAreFollowedUpToFive) {
    // /hop/N/END redirects to /hop/N+1/END until N reaches END, which is answered.
    LoopbackServer server([](const std::string& request) {
        const std::string path = path_of(request);
        if (path == "/old.map") {
            return Answer{.bytes =
                              plain_text_reply("HTTP/1.1 302 Found", "", "Location: /new.map\r\n")};
        }
        if (path == "/to-ftp.map") {
            return Answer{.bytes = plain_text_reply("HTTP/1.1 302 Found", "",
                                                    "Location: ftp://127.0.0.1/elsewhere.map\r\n")};
        }
        int hop = 0;
        int end = 0;
        if (std::sscanf(path.c_str(), "/hop/%d/%d", &hop, &end) == 2 && hop < end) {
            const std::string next = "/hop/" + std::to_string(hop + 1) + "/" + std::to_string(end);
            return Answer{.bytes = plain_text_reply("HTTP/1.1 301 Moved Permanently", "",
                                                    "Location: " + next + "\r\n")};
        }
        return Answer{.bytes = plain_text_reply("HTTP/1.1 200 OK", "{\"version\":3}")};
    });

    const Loaded moved = load(server.origin() + "/old.map");
    ASSERT_TRUE(moved.outcome.succeeded()) << moved.outcome.net_error_name;
    EXPECT_EQ(moved.joined(), "{\"version\":3}");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(path_of(requests[1]), "/new.map");

    const Loaded five = load(server.origin() + "/hop/0/5");
    ASSERT_TRUE(five.outcome.succeeded()) << "five redirects: " << five.outcome.net_error_name;
    EXPECT_EQ(five.joined(), "{\"version\":3}");

    std::size_t before = server.requests().size();
    const Loaded six = load(server.origin() + "/hop/0/6");
    expect_failure(six, 502, -310, "net::ERR_TOO_MANY_REDIRECTS");
    EXPECT_TRUE(six.chunks.empty());
    EXPECT_EQ(server.requests().size() - before, 6U) << "the first request and five redirects";

    // Only http and https: a followed ftp: redirect would come back here as /elsewhere.map.
    const Loaded ftp = load(server.origin() + "/to-ftp.map");
    expect_failure(ftp, 502, -302, "net::ERR_UNKNOWN_URL_SCHEME");
    EXPECT_TRUE(ftp.chunks.empty());
}

TEST(WinHttpLoad, AnErrorStatusIsAResponseCodeFailureWithThatStatus) {
    for (const int status : {404, 500}) {
        LoopbackServer server([&](const std::string& /*request*/) {
            return Answer{.bytes = plain_text_reply("HTTP/1.1 " + std::to_string(status) + " Nope",
                                                    "nothing here")};
        });
        const Loaded loaded = load(server.origin() + "/a.map");
        expect_failure(loaded, status, -379, "net::ERR_HTTP_RESPONSE_CODE_FAILURE");
        EXPECT_TRUE(loaded.chunks.empty()) << "the error page is no source map";
    }
}

TEST(WinHttpLoad, ABodyOverTheLimitIsTooBigWhetherAnnouncedOrNot) {
    const std::string body(5000, 'q');
    for (const bool with_length : {true, false}) {
        SCOPED_TRACE(with_length ? "announced" : "not announced");
        LoopbackServer server([&](const std::string& /*request*/) {
            return Answer{.bytes = plain_text_reply("HTTP/1.1 200 OK", body, {}, with_length)};
        });
        const Loaded loaded =
            load(server.origin() + "/big.map", {.max_bytes = 4000, .chunk_bytes = 512});
        expect_failure(loaded, 413, -8, "net::ERR_FILE_TOO_BIG");
        if (with_length) {
            EXPECT_TRUE(loaded.chunks.empty()) << "an announced size fails before any chunk";
        }
        EXPECT_LE(loaded.joined().size(), 4000U);
    }
    LoopbackServer exact([&](const std::string& /*request*/) {
        return Answer{.bytes = plain_text_reply("HTTP/1.1 200 OK", body)};
    });
    const Loaded at_limit =
        load(exact.origin() + "/big.map", {.max_bytes = 5000, .chunk_bytes = 0});
    ASSERT_TRUE(at_limit.outcome.succeeded()) << at_limit.outcome.net_error_name;
    EXPECT_EQ(at_limit.joined(), body);
}

TEST(WinHttpLoad, ABodyCutShortIsAConnectionReset) {
    LoopbackServer server([](const std::string& /*request*/) {
        return Answer{.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this"};
    });
    const Loaded loaded = load(server.origin() + "/cut.map");
    expect_failure(loaded, 502, -101, "net::ERR_CONNECTION_RESET");
}

TEST(WinHttpLoad, AddressesReachTheirServerAndPath) {
    LoopbackServer server([](const std::string& request) {
        return Answer{.bytes = plain_text_reply("HTTP/1.1 200 OK", path_of(request))};
    });
    const std::string authority = server.authority();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"HTTP://" + authority + "/Upper/Case.map", "/Upper/Case.map"},
        {"http://" + authority, "/"},
        {"http://" + authority + "?v=2", "/?v=2"},
        {"http://" + authority + "#top", "/"},
        {"http://user:secret@" + authority + "/private.map", "/private.map"},
        {"http://" + authority + "/%E2%82%AC.map?q=%20", "/%E2%82%AC.map?q=%20"},
    };
    for (const auto& [url, path] : cases) {
        const Loaded loaded = load(url);
        ASSERT_TRUE(loaded.outcome.succeeded()) << url << ": " << loaded.outcome.net_error_name;
        EXPECT_EQ(loaded.joined(), path) << url;
    }

    LoopbackServer v6(
        [](const std::string& request) {
            return Answer{.bytes = plain_text_reply("HTTP/1.1 200 OK", host_of(request))};
        },
        AF_INET6);
    if (!v6.listening()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    const Loaded loaded = load(v6.origin() + "/v6.map");
    ASSERT_TRUE(loaded.outcome.succeeded()) << loaded.outcome.net_error_name;
    EXPECT_EQ(loaded.joined(), v6.authority()) << "the Host header of a bracketed address";
}

TEST(WinHttpLoad, ARefusedConnectionIsConnectionRefused) {
    // A bound port on which nobody listens, held so that no one else takes it.
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET holder = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    int length = sizeof address;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const Loaded loaded =
        load("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/a.map");
    closesocket(holder);
    WSACleanup();
    expect_failure(loaded, 502, -102, "net::ERR_CONNECTION_REFUSED");
}

TEST(WinHttpLoad, MalformedAddressesAreInvalidUrls) {
    for (const char* url :
         {"http://", "http:///a.map", "http://127.0.0.1:99999/a.map", "http://127.0.0.1:0/a.map",
          "http://127.0.0.1:80x/a.map", "http://[::1/a.map", "http://[::1]x/a.map",
          "http://exa\tmple.com/", "http://a b/", "http://127.0.0.1/a b.map"}) {
        expect_failure(load(url), 400, -300, "net::ERR_INVALID_URL");
    }
}

TEST(WinHttpLoad, TheSinkOrAStopRequestEndsALoadAsAborted) {
    LoopbackServer server([](const std::string& request) {
        const std::string path = path_of(request);
        if (path == "/silent") {
            return Answer{.bytes = {}, .close_after = false};
        }
        if (path == "/stalls") {  // a head and part of the body, then nothing
            return Answer{
                .bytes =
                    plain_text_reply("HTTP/1.1 200 OK", std::string(100000, 's')).substr(0, 300),
                .close_after = false};
        }
        return Answer{.bytes = plain_text_reply("HTTP/1.1 200 OK", std::string(100000, 'w'))};
    });

    int calls = 0;
    const LoadOutcome refused = load_resource(server.origin() + "/long", "", SMALL_LIMITS,
                                              [&](const std::string& /*chunk*/) {
                                                  ++calls;
                                                  return false;
                                              },
                                              {});
    EXPECT_EQ(refused.status_code, 499);
    EXPECT_EQ(refused.net_error, -3);
    EXPECT_EQ(refused.net_error_name, "net::ERR_ABORTED");
    EXPECT_EQ(calls, 1) << "no chunk after the sink said stop";

    for (const char* path : {"/silent", "/stalls"}) {
        SCOPED_TRACE(path);
        std::stop_source stop;
        const std::jthread stopper([&] {
            std::this_thread::sleep_for(300ms);
            stop.request_stop();
        });
        const auto start = std::chrono::steady_clock::now();
        const Loaded stopped = load(server.origin() + path, SMALL_LIMITS, {}, stop.get_token());
        const auto took = std::chrono::steady_clock::now() - start;
        expect_failure(stopped, 499, -3, "net::ERR_ABORTED");
        EXPECT_GE(took, 250ms);
        EXPECT_LT(took, 2s) << "the server's silence held the load after the stop request";
    }

    const std::size_t before = server.requests().size();
    std::stop_source already;
    already.request_stop();
    const Loaded never = load(server.origin() + "/long", SMALL_LIMITS, {}, already.get_token());
    expect_failure(never, 499, -3, "net::ERR_ABORTED");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(server.requests().size(), before) << "a stopped load still asked the server";
}

}  // namespace
}  // namespace quelby
