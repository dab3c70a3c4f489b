// http: and https: through libcurl: redirects followed (to http and https only), any compression
// the server chooses, and limits on size and on time without progress. libcurl is opened when the
// first such load starts, not linked: with its TLS and protocol libraries it would cost every start
// of the program (--print-url included) milliseconds and megabytes.
#include <curl/curl.h>
#include <dlfcn.h>

#include <memory>

#include "quelby/resources/resource_load.h"

namespace quelby {

namespace {

constexpr const char* CURL_LIBRARY = "libcurl.so.4";

// The functions used, typed from the real header.
struct CurlApi {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

template <class Function>
bool find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// Opened once, never closed (its threads and TLS state outlive any unload); libcurl's global set-up
// is not thread-safe, so it runs here too, once, before the first transfer. Null when the library
// or one of its functions is missing.
const CurlApi* curl_api() {
    static const CurlApi* const loaded = []() -> const CurlApi* {
        void* library = dlopen(CURL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return nullptr;
        }
        static CurlApi api;
        const bool complete = find(library, "curl_global_init", api.global_init) &&
                              find(library, "curl_easy_init", api.easy_init) &&
                              find(library, "curl_easy_cleanup", api.easy_cleanup) &&
                              find(library, "curl_easy_setopt", api.easy_setopt) &&
                              find(library, "curl_easy_perform", api.easy_perform) &&
                              find(library, "curl_easy_getinfo", api.easy_getinfo) &&
                              find(library, "curl_slist_append", api.slist_append) &&
                              find(library, "curl_slist_free_all", api.slist_free_all);
        if (!complete || api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            return nullptr;
        }
        return &api;
    }();
    return loaded;
}

constexpr long CONNECT_TIMEOUT_SECONDS = 10;
// A server that sends nothing for this long is given up on; a slow but moving one is not.
constexpr long STALL_SECONDS = 30;
constexpr long MAX_REDIRECTS = 5;
constexpr int HTTP_OK_FIRST = 200;
constexpr int HTTP_OK_LAST = 299;

struct Transfer {
    Utf8Chunker chunker;
    const ChunkSink* sink = nullptr;
    std::size_t max_bytes = 0;
    std::size_t received = 0;
    bool too_large = false;
    bool sink_stopped = false;
    std::stop_token stop;
};

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    transfer->received += bytes;
    if (transfer->received > transfer->max_bytes) {
        transfer->too_large = true;
        return 0;  // ends the transfer with a write error
    }
    if (!transfer->chunker.add(std::string_view(data, bytes), *transfer->sink)) {
        transfer->sink_stopped = true;
        return 0;
    }
    return bytes;
}

int on_progress(void* user, curl_off_t /*dltotal*/, curl_off_t /*dlnow*/, curl_off_t /*ultotal*/,
                curl_off_t /*ulnow*/) {
    return static_cast<Transfer*>(user)->stop.stop_requested() ? 1 : 0;
}

LoadOutcome outcome_of(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return failed_load(LoadFailure::NameNotResolved);
        case CURLE_COULDNT_CONNECT:
            return failed_load(LoadFailure::ConnectionRefused);
        case CURLE_OPERATION_TIMEDOUT:
            return failed_load(LoadFailure::TimedOut);
        case CURLE_TOO_MANY_REDIRECTS:
            return failed_load(LoadFailure::TooManyRedirects);
        case CURLE_UNSUPPORTED_PROTOCOL:
            return failed_load(LoadFailure::RefusedRedirect);
        case CURLE_URL_MALFORMAT:
            return failed_load(LoadFailure::InvalidUrl);
        case CURLE_PEER_FAILED_VERIFICATION:
            return failed_load(LoadFailure::CertificateInvalid);
        case CURLE_SSL_CONNECT_ERROR:
            return failed_load(LoadFailure::TlsError);
        case CURLE_GOT_NOTHING:
            return failed_load(LoadFailure::EmptyResponse);
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return failed_load(LoadFailure::ConnectionReset);
        case CURLE_BAD_CONTENT_ENCODING:
            return failed_load(LoadFailure::DecodingFailed);
        default:
            return failed_load(LoadFailure::Failed);
    }
}

}  // namespace

LoadOutcome load_http_resource(std::string_view url, std::string_view request_headers,
                               const LoadLimits& limits, const ChunkSink& sink,
                               std::stop_token stop) {
    const CurlApi* const api = curl_api();
    if (api == nullptr) {
        // No libcurl on this machine: the front end says the scheme is not supported here.
        return failed_load(LoadFailure::NotImplemented);
    }
    const std::unique_ptr<CURL, decltype(api->easy_cleanup)> curl(api->easy_init(),
                                                                  api->easy_cleanup);
    if (!curl) {
        return failed_load(LoadFailure::InternalError);
    }
    struct HeaderList {
        const CurlApi* api;
        curl_slist* list = nullptr;
        ~HeaderList() { api->slist_free_all(list); }
    } headers{.api = api};
    // The front end's headers come as "Name: value" lines.
    std::string_view rest = request_headers;
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        const std::string line(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 2);
        if (line.find(':') != std::string::npos && line.find('\n') == std::string::npos) {
            headers.list = api->slist_append(headers.list, line.c_str());
        }
    }
    Transfer transfer{.chunker = Utf8Chunker(limits.chunk_bytes),
                      .sink = &sink,
                      .max_bytes = limits.max_bytes,
                      .stop = std::move(stop)};
    const std::string address(url);
    CURL* handle = curl.get();
    api->easy_setopt(handle, CURLOPT_URL, address.c_str());
    api->easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    api->easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api->easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    api->easy_setopt(handle, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
    api->easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    api->easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    api->easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, CONNECT_TIMEOUT_SECONDS);
    api->easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api->easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, STALL_SECONDS);
    api->easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_bytes));
    api->easy_setopt(handle, CURLOPT_HTTPHEADER, headers.list);
    api->easy_setopt(handle, CURLOPT_WRITEFUNCTION, on_body);
    api->easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    api->easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, on_progress);
    api->easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    api->easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);

    const CURLcode code = api->easy_perform(handle);
    if (transfer.too_large || code == CURLE_FILESIZE_EXCEEDED) {
        return failed_load(LoadFailure::FileTooBig);
    }
    if (transfer.sink_stopped || code == CURLE_ABORTED_BY_CALLBACK) {
        return failed_load(LoadFailure::Aborted);
    }
    if (code != CURLE_OK) {
        return outcome_of(code);
    }
    long status = 0;
    api->easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status < HTTP_OK_FIRST || status > HTTP_OK_LAST) {
        return failed_http_status(static_cast<int>(status));
    }
    if (!transfer.chunker.finish(sink)) {
        return failed_load(LoadFailure::Aborted);
    }
    return LoadOutcome{
        .status_code = static_cast<int>(status), .net_error = 0, .net_error_name = {}};
}

}  // namespace quelby
