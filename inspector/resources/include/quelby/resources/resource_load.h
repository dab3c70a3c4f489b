// Loading a resource the front end asks its host for (a source map, or a source a map names), by
// URL: file: from the local file system, http: and https: from their servers. The content is
// handed on in chunks as it arrives, never held whole; the outcome says how the load ended in the
// terms the front end reports (a status code and a network error number and name).
#pragma once

#include <cstddef>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

namespace quelby {

struct LoadOutcome {
    int status_code = 200;
    int net_error = 0;           // 0, or the network error number the front end names
    std::string net_error_name;  // "net::ERR_FILE_NOT_FOUND", ...; empty on success

    [[nodiscard]] bool succeeded() const { return net_error == 0; }
};

struct LoadLimits {
    std::size_t max_bytes = std::size_t{512} << 20U;
    std::size_t chunk_bytes = std::size_t{1} << 20U;
};

// Receives each chunk, in order. Every chunk ends on a whole UTF-8 sequence (a sequence cut by the
// chunk size moves to the next chunk). Returns false to end the load.
using ChunkSink = std::function<bool(std::string chunk)>;

// The ways a load fails, each with one status and one network error that the front end turns into
// its message ("System error: net::ERR_FILE_NOT_FOUND"), the same on every platform.
enum class LoadFailure {
    Aborted,       // stopped, or the page wants no more
    FileNotFound,  // missing, a folder, or not a regular file
    FileTooBig,    // over the size limit
    AccessDenied,  // not readable
    InvalidUrl,
    UnknownScheme,    // neither file: nor http(s):
    RefusedRedirect,  // a redirect to another scheme
    NameNotResolved,
    ConnectionRefused,
    TimedOut,
    TooManyRedirects,
    UnsafeRedirect,  // from https to http
    CertificateInvalid,
    TlsError,
    EmptyResponse,
    ConnectionReset,  // also a body cut short
    DecodingFailed,
    NotImplemented,  // no HTTP client on this machine
    InternalError,   // the client could not even be set up
    Failed,          // any other network failure
};
LoadOutcome failed_load(LoadFailure failure);
// An HTTP answer outside 2xx: its status, with net::ERR_HTTP_RESPONSE_CODE_FAILURE.
LoadOutcome failed_http_status(int status);

// Loads `url` (file:, http: or https:; any other scheme fails as an unknown URL scheme). Ends
// early, as aborted, when `stop` is requested or the sink returns false.
LoadOutcome load_resource(std::string_view url, std::string_view request_headers,
                          const LoadLimits& limits, const ChunkSink& sink, std::stop_token stop);

// Splits a byte stream into chunks that end on whole UTF-8 sequences.
class Utf8Chunker {
  public:
    // A chunk size of 0 means the default.
    explicit Utf8Chunker(std::size_t chunk_bytes);
    [[nodiscard]] std::size_t chunk_bytes() const { return chunk_bytes_; }
    // Adds bytes; hands on each full chunk. False as soon as the sink says stop.
    bool add(std::string_view bytes, const ChunkSink& sink);
    // Hands on what is left (a cut sequence at the very end goes as it is). False if the sink
    // says stop.
    bool finish(const ChunkSink& sink);

  private:
    std::size_t chunk_bytes_;
    std::string pending_;
};

// http: and https:, per platform (resource_http_<platform>.cpp).
LoadOutcome load_http_resource(std::string_view url, std::string_view request_headers,
                               const LoadLimits& limits, const ChunkSink& sink,
                               std::stop_token stop);

}  // namespace quelby
