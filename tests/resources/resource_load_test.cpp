// Loading what the front end asks its host for: local files and http(s) against loopback servers,
// streamed in chunks that never cut a UTF-8 sequence, and every way a load can end in the numbers
// the front end reports.
#include "quelby/resources/resource_load.h"
#include "support/http_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "quelby/core/utf8.h"
#include "quelby/resources/file_url.h"
#include "support/fake_inspector.h"
#include "support/temporary_folder.h"

namespace quelby {
namespace {

using namespace std::chrono_literals;
using test_support::FakeAnswer;
using test_support::FakeInspector;
using test_support::TemporaryFolder;

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

Loaded load(std::string_view url, LoadLimits limits = {}, std::string_view headers = {},
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

void expect_whole_sequences(const Loaded& loaded, std::size_t chunk_bytes) {
    for (const std::string& chunk : loaded.chunks) {
        EXPECT_FALSE(chunk.empty());
        EXPECT_LE(chunk.size(), chunk_bytes);
        EXPECT_TRUE(is_valid_utf8(chunk)) << "a chunk cuts a sequence: " << chunk;
    }
}

class FileLoad : public ::testing::Test {
  protected:
    std::string file_with(const std::string& name, std::string_view content) const {
        const std::filesystem::path file = folder_.path() / name;
        test_support::write_file(file, content);
        return file_url_of(file);
    }

    TemporaryFolder folder_;
};

TEST_F(FileLoad, ChunksConcatenateToTheFileAndNeverEndInsideASequence) {
    const std::string text = mixed_text(300);
    const std::string url = file_with("mixed \xC3\xA9.js", text);
    for (const std::size_t chunk_bytes : {4U, 5U, 6U, 7U, 8U, 13U, 4096U, 1U << 20U}) {
        SCOPED_TRACE("chunk_bytes " + std::to_string(chunk_bytes));
        const Loaded loaded = load(url, {.max_bytes = 1U << 20U, .chunk_bytes = chunk_bytes});
        ASSERT_TRUE(loaded.outcome.succeeded()) << loaded.outcome.net_error_name;
        EXPECT_EQ(loaded.outcome.status_code, 200);
        EXPECT_EQ(loaded.joined(), text);
        expect_whole_sequences(loaded, chunk_bytes);
        if (chunk_bytes < text.size()) {
            EXPECT_GT(loaded.chunks.size(), 1U);
        }
    }
}

TEST_F(FileLoad, BytesThatAreNotUtf8ArriveUnchanged) {
    std::string bytes;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b < 256; ++b) {
            bytes.push_back(static_cast<char>(b));
        }
    }
    bytes += "\xE2\x82";  // a sequence cut by the end of the file
    const std::string url = file_with("binary.bin", bytes);
    for (const std::size_t chunk_bytes : {1U, 2U, 3U, 7U, 64U}) {
        const Loaded loaded = load(url, {.max_bytes = 1U << 20U, .chunk_bytes = chunk_bytes});
        ASSERT_TRUE(loaded.outcome.succeeded()) << chunk_bytes;
        EXPECT_EQ(loaded.joined(), bytes) << chunk_bytes;
        for (const std::string& chunk : loaded.chunks) {
            EXPECT_LE(chunk.size(), chunk_bytes);
        }
    }
}

TEST_F(FileLoad, SizeBoundsAndEmptyFiles) {
    const std::string ten = file_with("ten.txt", "0123456789");
    Loaded at_limit = load(ten, {.max_bytes = 10, .chunk_bytes = 4});
    ASSERT_TRUE(at_limit.outcome.succeeded());
    EXPECT_EQ(at_limit.joined(), "0123456789");

    const Loaded over = load(ten, {.max_bytes = 9, .chunk_bytes = 4});
    EXPECT_EQ(over.outcome.net_error, -8);
    EXPECT_EQ(over.outcome.net_error_name, "net::ERR_FILE_TOO_BIG");
    EXPECT_TRUE(over.chunks.empty()) << "no part of a file over the limit is handed on";

    const Loaded empty = load(file_with("empty.txt", ""));
    ASSERT_TRUE(empty.outcome.succeeded());
    EXPECT_EQ(empty.joined(), "");
}

struct FailureCase {
    const char* what;
    std::string url;
    int status_code;
    int net_error;
    const char* name;
};

TEST_F(FileLoad, FailuresCarryTheFrontEndsNumbersAndNoContent) {
    const std::vector<FailureCase> cases = {
        {"missing file", file_url_of(folder_.path() / "missing.js.map"), 404, -6,
         "net::ERR_FILE_NOT_FOUND"},
        {"directory", file_url_of(folder_.path()), 404, -6, "net::ERR_FILE_NOT_FOUND"},
        {"another host", "file://example.com/etc/hostname", 400, -300, "net::ERR_INVALID_URL"},
        {"bad escape", "file:///tmp/%zz", 400, -300, "net::ERR_INVALID_URL"},
        {"ftp", "ftp://127.0.0.1/a.js", 400, -302, "net::ERR_UNKNOWN_URL_SCHEME"},
        {"data", "data:text/plain,hello", 400, -302, "net::ERR_UNKNOWN_URL_SCHEME"},
        {"javascript", "javascript:alert(1)", 400, -302, "net::ERR_UNKNOWN_URL_SCHEME"},
        {"relative", "a.js.map", 400, -302, "net::ERR_UNKNOWN_URL_SCHEME"},
    };
    for (const FailureCase& c : cases) {
        const Loaded loaded = load(c.url);
        EXPECT_FALSE(loaded.outcome.succeeded()) << c.what;
        EXPECT_EQ(loaded.outcome.status_code, c.status_code) << c.what;
        EXPECT_EQ(loaded.outcome.net_error, c.net_error) << c.what;
        EXPECT_EQ(loaded.outcome.net_error_name, c.name) << c.what;
        EXPECT_TRUE(loaded.chunks.empty()) << c.what;
    }
}

TEST_F(FileLoad, AnUnreadableFileIsAccessDenied) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root: file permissions do not stop this process";
    }
    const std::filesystem::path file = folder_.path() / "secret.js";
    test_support::write_file(file, "secret");
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    const Loaded loaded = load(file_url_of(file));
    EXPECT_EQ(loaded.outcome.net_error, -10);
    EXPECT_EQ(loaded.outcome.net_error_name, "net::ERR_ACCESS_DENIED");
    EXPECT_TRUE(loaded.chunks.empty());
}

TEST_F(FileLoad, ANamedPipeOrDeviceIsNotAResourceAndDoesNotBlockTheLoad) {
    const std::filesystem::path pipe = folder_.path() / "map.fifo";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::stop_source stop;
    auto pending = std::async(std::launch::async,
                              [&] { return load(file_url_of(pipe), {}, {}, stop.get_token()); });
    const bool ended = pending.wait_for(2s) == std::future_status::ready;
    if (!ended) {
        // Lets a load blocked on the pipe see its end, so that the test can finish.
        stop.request_stop();
        const int writer = ::open(pipe.c_str(), O_WRONLY);
        ::close(writer);
    }
    const Loaded loaded = pending.get();
    ASSERT_TRUE(ended) << "a load waited on a named pipe that nobody writes";
    EXPECT_EQ(loaded.outcome.net_error, -6);
    EXPECT_TRUE(loaded.chunks.empty());

    const Loaded device = load("file:///dev/zero", {.max_bytes = 1U << 16U, .chunk_bytes = 4096});
    EXPECT_EQ(device.outcome.net_error, -6);
    EXPECT_TRUE(device.chunks.empty());
}

TEST_F(FileLoad, TheSinkOrAStopRequestEndsTheLoadAsAborted) {
    const std::string url = file_with("long.txt", std::string(1000, 'z'));
    int calls = 0;
    const LoadOutcome refused = load_resource(url, "", {.max_bytes = 1U << 20U, .chunk_bytes = 10},
                                              [&](std::string /*chunk*/) {
                                                  ++calls;
                                                  return false;
                                              },
                                              {});
    EXPECT_EQ(refused.net_error, -3);
    EXPECT_EQ(refused.net_error_name, "net::ERR_ABORTED");
    EXPECT_EQ(calls, 1) << "no chunk after the sink said stop";

    std::stop_source stop;
    stop.request_stop();
    const Loaded stopped = load(url, {}, {}, stop.get_token());
    EXPECT_EQ(stopped.outcome.net_error, -3);
    EXPECT_TRUE(stopped.chunks.empty());
}

TEST(Utf8Chunker, BytesAddedInPiecesComeOutInWholeSequences) {
    const std::string text = mixed_text(50);
    for (const std::size_t piece : {1U, 2U, 3U, 5U, 11U}) {
        Loaded loaded;
        const ChunkSink sink = [&](std::string chunk) {
            loaded.chunks.push_back(std::move(chunk));
            return true;
        };
        Utf8Chunker chunker(7);
        for (std::size_t at = 0; at < text.size(); at += piece) {
            ASSERT_TRUE(chunker.add(std::string_view(text).substr(at, piece), sink));
        }
        ASSERT_TRUE(chunker.finish(sink));
        EXPECT_EQ(loaded.joined(), text) << piece;
        expect_whole_sequences(loaded, 7);
    }
}

// --- http: against a scripted server on 127.0.0.1
// -------------------------------------------------

using test_support::path_of;
using test_support::plain_text_reply;

constexpr LoadLimits SMALL_LIMITS{.max_bytes = 1U << 20U, .chunk_bytes = 4096};

TEST(HttpLoad, BodiesArriveIntactWithOrWithoutALengthAndTheFrontEndsHeadersAreSent) {
    const std::string body = mixed_text(2000);
    FakeInspector server([&](const std::string& request) {
        const bool with_length = path_of(request) != "/no-length.js.map";
        return FakeAnswer{.bytes = plain_text_reply("HTTP/1.1 200 OK", body, {}, with_length)};
    });
    const std::string origin = "http://" + server.address();
    for (const char* path : {"/app.js.map", "/no-length.js.map"}) {
        const Loaded loaded = load(origin + path, SMALL_LIMITS, "X-Probe: one\r\nX-Other: two");
        ASSERT_TRUE(loaded.outcome.succeeded()) << path << ": " << loaded.outcome.net_error_name;
        EXPECT_EQ(loaded.outcome.status_code, 200);
        EXPECT_EQ(loaded.joined(), body) << path;
        expect_whole_sequences(loaded, SMALL_LIMITS.chunk_bytes);
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_NE(requests[0].find("\r\nX-Probe: one\r\n"), std::string::npos) << requests[0];
    EXPECT_NE(requests[0].find("\r\nX-Other: two\r\n"), std::string::npos) << requests[0];
}

TEST(HttpLoad, ARedirectIsFollowedToItsTarget) {
    FakeInspector server([](const std::string& request) {
        if (path_of(request) == "/old.map") {
            return FakeAnswer{
                .bytes = plain_text_reply("HTTP/1.1 302 Found", "", "Location: /new.map\r\n")};
        }
        return FakeAnswer{.bytes = plain_text_reply("HTTP/1.1 200 OK", "{\"version\":3}")};
    });
    const Loaded loaded = load("http://" + server.address() + "/old.map", SMALL_LIMITS);
    ASSERT_TRUE(loaded.outcome.succeeded()) << loaded.outcome.net_error_name;
    EXPECT_EQ(loaded.joined(), "{\"version\":3}");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(path_of(requests[1]), "/new.map");
}

TEST(HttpLoad, AnErrorStatusIsAResponseCodeFailureWithThatStatus) {
    for (const char* status_line : {"HTTP/1.1 404 Not Found", "HTTP/1.1 500 Server Error"}) {
        FakeInspector server([&](const std::string& /*request*/) {
            return FakeAnswer{.bytes = plain_text_reply(status_line, "nothing here")};
        });
        const Loaded loaded = load("http://" + server.address() + "/a.map", SMALL_LIMITS);
        EXPECT_EQ(loaded.outcome.status_code, std::stoi(std::string(status_line).substr(9, 3)));
        EXPECT_EQ(loaded.outcome.net_error, -379);
        EXPECT_EQ(loaded.outcome.net_error_name, "net::ERR_HTTP_RESPONSE_CODE_FAILURE");
    }
}

TEST(HttpLoad, ABodyOverTheLimitIsTooBigWhetherAnnouncedOrNot) {
    const std::string body(5000, 'q');
    for (const bool with_length : {true, false}) {
        FakeInspector server([&](const std::string& /*request*/) {
            return FakeAnswer{.bytes = plain_text_reply("HTTP/1.1 200 OK", body, {}, with_length)};
        });
        const Loaded loaded = load("http://" + server.address() + "/big.map",
                                   {.max_bytes = 4000, .chunk_bytes = 512});
        EXPECT_EQ(loaded.outcome.net_error, -8) << with_length;
        EXPECT_EQ(loaded.outcome.net_error_name, "net::ERR_FILE_TOO_BIG");
        EXPECT_LE(loaded.joined().size(), 4000U);
    }
}

TEST(HttpLoad, ARefusedConnectionIsConnectionRefused) {
    const test_support::RefusingPort port;
    const Loaded loaded = load("http://" + port.address() + "/a.map", SMALL_LIMITS);
    EXPECT_EQ(loaded.outcome.net_error, -102);
    EXPECT_EQ(loaded.outcome.net_error_name, "net::ERR_CONNECTION_REFUSED");
}

TEST(HttpLoad, TheSinkOrAStopRequestEndsALoadAsAborted) {
    FakeInspector server([](const std::string& request) {
        if (path_of(request) == "/silent") {
            return FakeAnswer{.bytes = {}, .close_after = false};  // accepts, never answers
        }
        return FakeAnswer{.bytes = plain_text_reply("HTTP/1.1 200 OK", std::string(100000, 'w'))};
    });
    const std::string origin = "http://" + server.address();

    int calls = 0;
    const LoadOutcome refused = load_resource(origin + "/long", "", SMALL_LIMITS,
                                              [&](std::string /*chunk*/) {
                                                  ++calls;
                                                  return false;
                                              },
                                              {});
    EXPECT_EQ(refused.net_error, -3);
    EXPECT_EQ(calls, 1);

    std::stop_source stop;
    const std::jthread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    const Loaded stopped = load(origin + "/silent", SMALL_LIMITS, {}, stop.get_token());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(stopped.outcome.net_error, -3);
    EXPECT_EQ(stopped.outcome.net_error_name, "net::ERR_ABORTED");
    EXPECT_LT(took, 2500ms) << "a silent server holds the load after the stop request";
}

}  // namespace
}  // namespace quelby
