#include "resource_load.h"

#include <fstream>
#include <vector>

#include "ascii_text.h"
#include "file_url.h"

namespace quelby {

namespace {

// The network error numbers and names the front end turns into its messages ("System error:
// net::ERR_FILE_NOT_FOUND").
constexpr int ERR_ABORTED = -3;
constexpr int ERR_FILE_NOT_FOUND = -6;
constexpr int ERR_FILE_TOO_BIG = -8;
constexpr int ERR_ACCESS_DENIED = -10;
constexpr int ERR_INVALID_URL = -300;
constexpr int ERR_UNKNOWN_URL_SCHEME = -302;
constexpr int NOT_FOUND = 404;
constexpr int FORBIDDEN = 403;
constexpr int BAD_REQUEST = 400;
constexpr int TOO_LARGE = 413;
constexpr int CLIENT_CLOSED = 499;

// Where the byte at `end - n` starts a sequence longer than the n bytes left, the cut is moved
// before it.
std::size_t whole_sequences_end(std::string_view bytes) {
    const std::size_t size = bytes.size();
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto lead = static_cast<unsigned char>(bytes[size - back]);
        if ((lead & 0xC0U) == 0x80U) {
            continue;  // a continuation byte: look further back for its lead
        }
        std::size_t length = 1;
        if ((lead & 0xE0U) == 0xC0U) {
            length = 2;
        } else if ((lead & 0xF0U) == 0xE0U) {
            length = 3;
        } else if ((lead & 0xF8U) == 0xF0U) {
            length = 4;
        }
        return length > back ? size - back : size;
    }
    return size;
}

LoadOutcome load_file(std::string_view url, const LoadLimits& limits, const ChunkSink& sink,
                      const std::stop_token& stop) {
    auto path = path_of_file_url(url);
    if (!path) {
        return failed_load(BAD_REQUEST, ERR_INVALID_URL, "net::ERR_INVALID_URL");
    }
    std::error_code error;
    const auto status = std::filesystem::status(*path, error);
    // Only regular files: reading a named pipe or a device can block for ever (and the window's
    // close waits for its loads) or never end.
    if (!std::filesystem::is_regular_file(status)) {
        return failed_load(NOT_FOUND, ERR_FILE_NOT_FOUND, "net::ERR_FILE_NOT_FOUND");
    }
    if (const auto size = std::filesystem::file_size(*path, error);
        !error && size > limits.max_bytes) {
        return failed_load(TOO_LARGE, ERR_FILE_TOO_BIG, "net::ERR_FILE_TOO_BIG");
    }
    std::ifstream file(*path, std::ios::binary);
    if (!file) {
        return failed_load(FORBIDDEN, ERR_ACCESS_DENIED, "net::ERR_ACCESS_DENIED");
    }
    Utf8Chunker chunker(limits.chunk_bytes);
    std::vector<char> buffer(limits.chunk_bytes > 0 ? limits.chunk_bytes
                                                    : LoadLimits{}.chunk_bytes);
    std::size_t total = 0;
    while (file) {
        if (stop.stop_requested()) {
            return failed_load(CLIENT_CLOSED, ERR_ABORTED, "net::ERR_ABORTED");
        }
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(file.gcount());
        total += got;
        // A file that grows while it is read (or a device) is held to the same limit.
        if (total > limits.max_bytes) {
            return failed_load(TOO_LARGE, ERR_FILE_TOO_BIG, "net::ERR_FILE_TOO_BIG");
        }
        if (!chunker.add(std::string_view(buffer.data(), got), sink)) {
            return failed_load(CLIENT_CLOSED, ERR_ABORTED, "net::ERR_ABORTED");
        }
    }
    if (!file.eof()) {
        return failed_load(FORBIDDEN, ERR_ACCESS_DENIED, "net::ERR_ACCESS_DENIED");
    }
    if (!chunker.finish(sink)) {
        return failed_load(CLIENT_CLOSED, ERR_ABORTED, "net::ERR_ABORTED");
    }
    return LoadOutcome{};
}

}  // namespace

LoadOutcome failed_load(int status_code, int net_error, std::string_view name) {
    return LoadOutcome{
        .status_code = status_code, .net_error = net_error, .net_error_name = std::string(name)};
}

Utf8Chunker::Utf8Chunker(std::size_t chunk_bytes)
    : chunk_bytes_(chunk_bytes > 0 ? chunk_bytes : LoadLimits{}.chunk_bytes) {}

bool Utf8Chunker::add(std::string_view bytes, const ChunkSink& sink) {
    pending_.append(bytes);
    while (pending_.size() >= chunk_bytes_) {
        std::size_t cut = whole_sequences_end(std::string_view(pending_).substr(0, chunk_bytes_));
        if (cut == 0) {
            cut = chunk_bytes_;  // a chunk smaller than one sequence: no whole sequence to keep
        }
        std::string chunk = pending_.substr(0, cut);
        pending_.erase(0, cut);
        if (!sink(std::move(chunk))) {
            return false;
        }
    }
    return true;
}

bool Utf8Chunker::finish(const ChunkSink& sink) {
    if (pending_.empty()) {
        return true;
    }
    std::string rest = std::move(pending_);
    pending_.clear();
    return sink(std::move(rest));
}

LoadOutcome load_resource(std::string_view url, std::string_view request_headers,
                          const LoadLimits& limits, const ChunkSink& sink, std::stop_token stop) {
    if (starts_with_ignoring_ascii_case(url, "file:")) {
        return load_file(url, limits, sink, stop);
    }
    if (starts_with_ignoring_ascii_case(url, "http:") ||
        starts_with_ignoring_ascii_case(url, "https:")) {
        return load_http_resource(url, request_headers, limits, sink, std::move(stop));
    }
    return failed_load(BAD_REQUEST, ERR_UNKNOWN_URL_SCHEME, "net::ERR_UNKNOWN_URL_SCHEME");
}

}  // namespace quelby
