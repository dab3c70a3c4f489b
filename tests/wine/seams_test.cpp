// The Windows seams under a real Windows API (Wine here): system error texts, Winsock behind the
// socket seam, the response-body stream and the environment options object.
#include <winsock2.h>
// After winsock2.h, which must come before windows.h.
#include <windows.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "quelby/core/byte_text.h"
#include "quelby/core/error_chain.h"
#include "quelby/core/os_error.h"
#include "quelby/discovery/tcp_connection.h"
#include "span_stream.h"
#include "webview2_api.h"
#include "webview2_options.h"

namespace quelby {
namespace {

bool ends_with(const std::string& text, const std::string& tail) {
    return text.ends_with(tail);
}

// ---- system error texts
// ---------------------------------------------------------------------------

TEST(OsErrorText, SystemTextWithoutTheLineEnd) {
    for (const int code : {2, 5, 10060, 10061, 11001}) {
        const std::string text = os_error_text(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_NE(text.back(), '\n') << code;
        EXPECT_NE(text.back(), '\r') << code;
        EXPECT_NE(text.back(), ' ') << code;
        EXPECT_NE(text, "Unknown error") << code;
    }
}

TEST(OsErrorText, GenericTextWhereTheSystemHasNone) {
    EXPECT_EQ(os_error_text(0x2ABCDEF1), "Unknown error");
}

TEST(OsErrorText, HresultOfAWin32CodeReadsAsThatCode) {
    const std::string text = os_error_text(static_cast<int>(0x80070002U));
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text, "Unknown error");
}

TEST(OsErrorText, ChainShowsTheCode) {
    const ErrorChain error = ErrorChain::from_os_error(10061);
    ASSERT_EQ(error.messages().size(), 1U);
    EXPECT_TRUE(ends_with(error.messages()[0], " (os error 10061)")) << error.messages()[0];
}

// ---- Winsock
// ----------------------------------------------------------------------------------------

class Listener {
  public:
    Listener() {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(socket_, 4);
        int length = sizeof address;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener() { close(); }

    void close() {
        if (socket_ != INVALID_SOCKET) {
            closesocket(socket_);
            socket_ = INVALID_SOCKET;
        }
    }
    SOCKET accept() const { return ::accept(socket_, nullptr, nullptr); }
    [[nodiscard]] std::uint16_t port() const { return port_; }
    [[nodiscard]] net::SocketAddress address() const {
        net::SocketAddress address;
        address.family = net::Family::V4;
        address.bytes = {127, 0, 0, 1};
        address.port = port_;
        return address;
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
};

TEST(TcpConnection, RefusedConnectionIsWinsockError10061) {
    Listener listener;
    const net::SocketAddress address = listener.address();
    listener.close();  // nobody listens on that port any more
    const auto connection = net::TcpConnection::connect(address, std::chrono::milliseconds(5000));
    ASSERT_FALSE(connection);
    EXPECT_TRUE(ends_with(connection.error().messages().back(), "(os error 10061)"))
        << connection.error().messages().back();
}

TEST(TcpConnection, ConnectGivesUpAtItsTimeLimitWithError10060) {
    // A listener that never accepts, its queue filled by connections that are held. Under Wine, as
    // on Linux, further connection requests are then left unanswered and only the time limit ends
    // the wait. (Windows itself refuses them at once, 10061.)
    Listener listener;
    std::vector<net::TcpConnection> held;
    for (int i = 0; i < 64; ++i) {
        auto filler =
            net::TcpConnection::connect(listener.address(), std::chrono::milliseconds(200));
        if (!filler) {
            break;
        }
        held.push_back(std::move(*filler));
    }
    const auto start = std::chrono::steady_clock::now();
    const auto connection =
        net::TcpConnection::connect(listener.address(), std::chrono::milliseconds(300));
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(connection);
    const std::string& error = connection.error().messages().back();
    if (ends_with(error, "(os error 10060)")) {
        EXPECT_GE(waited, std::chrono::milliseconds(250));
    } else {
        EXPECT_TRUE(ends_with(error, "(os error 10061)")) << error;
    }
    EXPECT_LT(waited, std::chrono::milliseconds(1500));

    // A caller that stops ends the wait within a slice of its stop, long before the time limit;
    // one already stopped does not wait at all.
    std::stop_source stop;
    const auto stop_after = 2 * net::WAIT_SLICE + std::chrono::milliseconds(50);
    const auto given_up_start = std::chrono::steady_clock::now();
    const std::jthread stopper([&] {
        std::this_thread::sleep_until(given_up_start + stop_after);
        stop.request_stop();
    });
    const auto given_up = net::TcpConnection::connect(
        listener.address(), std::chrono::milliseconds(5000), stop.get_token());
    const auto given_up_after = std::chrono::steady_clock::now() - given_up_start;
    ASSERT_FALSE(given_up);
    if (ends_with(given_up.error().messages().back(), "(os error 10060)")) {
        EXPECT_GE(given_up_after, stop_after - std::chrono::milliseconds(20));
        const auto stopped_start = std::chrono::steady_clock::now();
        const auto stopped = net::TcpConnection::connect(
            listener.address(), std::chrono::milliseconds(5000), stop.get_token());
        ASSERT_FALSE(stopped);
        EXPECT_TRUE(ends_with(stopped.error().messages().back(), "(os error 10060)"))
            << stopped.error().messages().back();
        EXPECT_LT(std::chrono::steady_clock::now() - stopped_start, net::WAIT_SLICE);
    }
    EXPECT_LT(given_up_after, std::chrono::milliseconds(1500));
}

TEST(TcpConnection, SendsAllPiecesAndReadsToTheEnd) {
    Listener listener;
    std::string received;
    std::thread peer([&] {
        const SOCKET client = listener.accept();
        std::array<char, 256> buffer{};
        while (received.find("\r\n\r\n") == std::string::npos) {
            const int count = ::recv(client, buffer.data(), static_cast<int>(buffer.size()), 0);
            if (count <= 0) {
                break;
            }
            received.append(buffer.data(), static_cast<std::size_t>(count));
        }
        const std::string reply(100000, 'x');  // more than one receive's worth
        ::send(client, reply.data(), static_cast<int>(reply.size()), 0);
        ::shutdown(client, SD_SEND);
        closesocket(client);
    });
    auto connection =
        net::TcpConnection::connect(listener.address(), std::chrono::milliseconds(5000));
    ASSERT_TRUE(connection) << connection.error().messages().back();
    ASSERT_TRUE(connection->set_receive_timeout(std::chrono::milliseconds(3000)));
    const std::array<std::string_view, 3> pieces{"GET /json HTTP/1.0\r\n", "Host: x\r\n", "\r\n"};
    ASSERT_TRUE(connection->send_all(pieces));
    std::string reply;
    std::array<char, 4096> buffer{};
    while (true) {
        const auto count = connection->receive(buffer);
        ASSERT_TRUE(count) << count.error().messages().back();
        if (*count == 0) {
            break;
        }
        reply.append(buffer.data(), *count);
    }
    peer.join();
    EXPECT_EQ(received, "GET /json HTTP/1.0\r\nHost: x\r\n\r\n");
    EXPECT_EQ(reply, std::string(100000, 'x'));
}

TEST(TcpConnection, SilentPeerTimesOutWithError10060) {
    Listener listener;
    std::thread peer([&] {
        const SOCKET client = listener.accept();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        closesocket(client);
    });
    auto connection =
        net::TcpConnection::connect(listener.address(), std::chrono::milliseconds(5000));
    ASSERT_TRUE(connection);
    // Nothing to read: the wait takes its whole time and says so.
    const auto wait_start = std::chrono::steady_clock::now();
    const auto readable = connection->wait_readable(std::chrono::milliseconds(200));
    ASSERT_TRUE(readable) << readable.error().messages().back();
    EXPECT_FALSE(*readable);
    EXPECT_GE(std::chrono::steady_clock::now() - wait_start, std::chrono::milliseconds(180));
    ASSERT_TRUE(connection->set_receive_timeout(std::chrono::milliseconds(300)));
    std::array<char, 16> buffer{};
    const auto start = std::chrono::steady_clock::now();
    const auto count = connection->receive(buffer);
    const auto waited = std::chrono::steady_clock::now() - start;
    peer.join();
    ASSERT_FALSE(count);
    EXPECT_TRUE(ends_with(count.error().messages().back(), "(os error 10060)"))
        << count.error().messages().back();
    // The option is milliseconds, not seconds: 300 ms, not 300 s, and not zero (no time-out).
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::milliseconds(1400));
    // Once the peer has closed, the end of the stream is there to receive.
    const auto at_end = connection->wait_readable(std::chrono::milliseconds(3000));
    ASSERT_TRUE(at_end);
    EXPECT_TRUE(*at_end);
}

TEST(TcpConnection, ResolvesLocalhost) {
    const auto addresses = net::resolve_host("localhost", 9229);
    ASSERT_TRUE(addresses) << addresses.error().messages().back();
    ASSERT_FALSE(addresses->empty());
    for (const auto& address : *addresses) {
        EXPECT_EQ(address.port, 9229);
    }
}

// ---- response stream
// -----------------------------------------------------------------------------

struct Stream {
    IStream* stream;
    explicit Stream(IStream* s) : stream(s) {}
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() { stream->lpVtbl->Release(stream); }
    IStream* operator->() const { return stream; }
};

std::string read_all(IStream* stream, ULONG chunk) {
    std::string out;
    std::vector<char> buffer(chunk);
    while (true) {
        ULONG read = 0;
        const HRESULT result = stream->lpVtbl->Read(stream, buffer.data(), chunk, &read);
        out.append(buffer.data(), read);
        if (result != S_OK) {
            EXPECT_EQ(result, S_FALSE);
            return out;
        }
    }
}

TEST(SpanStream, ReadsTheBytesInPlaceWithoutCopying) {
    std::string bytes = "hello, front end";
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    Stream stream(webview_host::make_span_stream({data, bytes.size()}));
    bytes[0] = 'J';  // a copy would not see this
    EXPECT_EQ(read_all(stream.stream, 5), "Jello, front end");
    ULONG read = 7;
    char byte = 0;
    EXPECT_EQ(stream->lpVtbl->Read(stream.stream, &byte, 1, &read), S_FALSE);
    EXPECT_EQ(read, 0U);
}

TEST(SpanStream, SeeksStatsAndClones) {
    const std::string bytes = "0123456789";
    Stream stream(webview_host::make_span_stream(text_bytes(bytes)));
    LARGE_INTEGER move{};
    ULARGE_INTEGER position{};
    move.QuadPart = -3;
    ASSERT_EQ(stream->lpVtbl->Seek(stream.stream, move, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 7U);
    IStream* copy = nullptr;
    ASSERT_EQ(stream->lpVtbl->Clone(stream.stream, &copy), S_OK);
    Stream clone(copy);
    EXPECT_EQ(read_all(stream.stream, 4), "789");
    move.QuadPart = 1;
    ASSERT_EQ(clone->lpVtbl->Seek(clone.stream, move, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(read_all(clone.stream, 100), "89");  // the clone kept its own position
    move.QuadPart = -1;
    EXPECT_NE(stream->lpVtbl->Seek(stream.stream, move, STREAM_SEEK_SET, &position), S_OK);
    STATSTG statistics{};
    ASSERT_EQ(stream->lpVtbl->Stat(stream.stream, &statistics, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(statistics.cbSize.QuadPart, 10U);
    EXPECT_EQ(statistics.type, static_cast<DWORD>(STGTY_STREAM));
    ULONG written = 5;
    EXPECT_EQ(stream->lpVtbl->Write(stream.stream, "x", 1, &written), STG_E_ACCESSDENIED);
    EXPECT_EQ(written, 0U);
}

TEST(SpanStream, AnswersOnlyStreamInterfaces) {
    const std::uint8_t byte = 1;
    Stream stream(webview_host::make_span_stream({&byte, 1}));
    for (const IID& iid : {webview_host::webview2::IID_UNKNOWN, webview_host::webview2::IID_STREAM,
                           webview_host::webview2::IID_SEQUENTIAL_STREAM,
                           webview_host::webview2::IID_AGILE_OBJECT}) {
        void* object = nullptr;
        ASSERT_EQ(stream->lpVtbl->QueryInterface(stream.stream, iid, &object), S_OK);
        EXPECT_EQ(object, stream.stream);
        stream->lpVtbl->Release(stream.stream);
    }
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(stream->lpVtbl->QueryInterface(
                  stream.stream, webview_host::webview2::IID_ENVIRONMENT_OPTIONS, &object),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

// ---- environment options
// ----------------------------------------------------------------------------

std::wstring take(LPWSTR text) {
    std::wstring value = text == nullptr ? L"(null)" : text;
    CoTaskMemFree(text);
    return value;
}

TEST(EnvironmentOptions, HandsTheRuntimeCopiesOfTheSettings) {
    auto* options = webview_host::make_environment_options({
        .additional_browser_arguments = L"--a --b",
        .language = L"de-DE",
        .target_compatible_browser_version = L"86.0.616.0",
    });
    LPWSTR text = nullptr;
    ASSERT_EQ(options->lpVtbl->get_AdditionalBrowserArguments(options, &text), S_OK);
    EXPECT_EQ(take(text), L"--a --b");
    ASSERT_EQ(options->lpVtbl->get_Language(options, &text), S_OK);
    EXPECT_EQ(take(text), L"de-DE");
    ASSERT_EQ(options->lpVtbl->get_TargetCompatibleBrowserVersion(options, &text), S_OK);
    EXPECT_EQ(take(text), L"86.0.616.0");
    ASSERT_EQ(options->lpVtbl->put_Language(options, L"fr"), S_OK);
    ASSERT_EQ(options->lpVtbl->get_Language(options, &text), S_OK);
    EXPECT_EQ(take(text), L"fr");
    BOOL allow = TRUE;
    ASSERT_EQ(options->lpVtbl->get_AllowSingleSignOnUsingOSPrimaryAccount(options, &allow), S_OK);
    EXPECT_EQ(allow, FALSE);
    EXPECT_EQ(options->lpVtbl->get_Language(options, nullptr), E_POINTER);
    void* object = nullptr;
    ASSERT_EQ(options->lpVtbl->QueryInterface(
                  options, webview_host::webview2::IID_ENVIRONMENT_OPTIONS, &object),
              S_OK);
    EXPECT_EQ(options->lpVtbl->Release(options), 1U);
    EXPECT_EQ(options->lpVtbl->Release(options), 0U);
}

}  // namespace
}  // namespace quelby
