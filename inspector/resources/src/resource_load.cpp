#include "quelby/resources/resource_load.h"

#include <fstream>
#include <vector>

#include "quelby/core/ascii_text.h"
#include "quelby/resources/file_url.h"

namespace quelby {

namespace {

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
        return failed_load(LoadFailure::InvalidUrl);
    }
    std::error_code error;
    const auto status = std::filesystem::status(*path, error);
    // Only regular files: reading a named pipe or a device can block for ever (and the window's
    // close waits for its loads) or never end.
    if (!std::filesystem::is_regular_file(status)) {
        return failed_load(LoadFailure::FileNotFound);
    }
    if (const auto size = std::filesystem::file_size(*path, error);
        !error && size > limits.max_bytes) {
        return failed_load(LoadFailure::FileTooBig);
    }
    std::ifstream file(*path, std::ios::binary);
    if (!file) {
        return failed_load(LoadFailure::AccessDenied);
    }
    Utf8Chunker chunker(limits.chunk_bytes);
    std::vector<char> buffer(chunker.chunk_bytes());
    std::size_t total = 0;
    while (file) {
        if (stop.stop_requested()) {
            return failed_load(LoadFailure::Aborted);
        }
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(file.gcount());
        total += got;
        // A file that grows while it is read (or a device) is held to the same limit.
        if (total > limits.max_bytes) {
            return failed_load(LoadFailure::FileTooBig);
        }
        if (!chunker.add(std::string_view(buffer.data(), got), sink)) {
            return failed_load(LoadFailure::Aborted);
        }
    }
    if (!file.eof()) {
        return failed_load(LoadFailure::AccessDenied);
    }
    if (!chunker.finish(sink)) {
        return failed_load(LoadFailure::Aborted);
    }
    return LoadOutcome{};
}

}  // namespace

LoadOutcome failed_load(LoadFailure failure) {
    struct Terms {
        int status;
        int number;
        std::string_view name;
    };
    const Terms terms = [failure]() -> Terms {
        switch (failure) {
            case LoadFailure::Aborted:
                return {499, -3, "net::ERR_ABORTED"};
            case LoadFailure::FileNotFound:
                return {404, -6, "net::ERR_FILE_NOT_FOUND"};
            case LoadFailure::FileTooBig:
                return {413, -8, "net::ERR_FILE_TOO_BIG"};
            case LoadFailure::AccessDenied:
                return {403, -10, "net::ERR_ACCESS_DENIED"};
            case LoadFailure::InvalidUrl:
                return {400, -300, "net::ERR_INVALID_URL"};
            case LoadFailure::UnknownScheme:
                return {400, -302, "net::ERR_UNKNOWN_URL_SCHEME"};
            case LoadFailure::RefusedRedirect:
                return {502, -302, "net::ERR_UNKNOWN_URL_SCHEME"};
            case LoadFailure::NameNotResolved:
                return {502, -105, "net::ERR_NAME_NOT_RESOLVED"};
            case LoadFailure::ConnectionRefused:
                return {502, -102, "net::ERR_CONNECTION_REFUSED"};
            case LoadFailure::TimedOut:
                return {504, -7, "net::ERR_TIMED_OUT"};
            case LoadFailure::TooManyRedirects:
                return {502, -310, "net::ERR_TOO_MANY_REDIRECTS"};
            case LoadFailure::UnsafeRedirect:
                return {502, -311, "net::ERR_UNSAFE_REDIRECT"};
            case LoadFailure::CertificateInvalid:
                return {502, -202, "net::ERR_CERT_AUTHORITY_INVALID"};
            case LoadFailure::TlsError:
                return {502, -107, "net::ERR_SSL_PROTOCOL_ERROR"};
            case LoadFailure::EmptyResponse:
                return {502, -324, "net::ERR_EMPTY_RESPONSE"};
            case LoadFailure::ConnectionReset:
                return {502, -101, "net::ERR_CONNECTION_RESET"};
            case LoadFailure::DecodingFailed:
                return {502, -330, "net::ERR_CONTENT_DECODING_FAILED"};
            case LoadFailure::NotImplemented:
                return {501, -11, "net::ERR_NOT_IMPLEMENTED"};
            case LoadFailure::InternalError:
                return {500, -2, "net::ERR_FAILED"};
            case LoadFailure::Failed:
                break;
        }
        return {502, -2, "net::ERR_FAILED"};
    }();
    return LoadOutcome{.status_code = terms.status,
                       .net_error = terms.number,
                       .net_error_name = std::string(terms.name)};
}

LoadOutcome failed_http_status(int status) {
    // The front end reads this as "HTTP error: status code N, net::ERR_HTTP_RESPONSE_CODE_FAILURE".
    return LoadOutcome{.status_code = status,
                       .net_error = -379,
                       .net_error_name = "net::ERR_HTTP_RESPONSE_CODE_FAILURE"};
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
    return failed_load(LoadFailure::UnknownScheme);
}

}  // namespace quelby
