// http: and https: through WinHTTP: redirects followed (to http and https only, never from https
// to http, at most 5), gzip and deflate decoded where the system can, and limits on size and on
// time without data.
//
// The load runs on the calling thread, which starts each step and waits for its end. WinHTTP works
// in its asynchronous mode underneath: only there does closing the request handle end a step at
// once and safely. A synchronous call cannot be cut short: closing its handle from another thread
// races with the call (Microsoft: "don't do that"), and Wine leaves the call blocked until its
// time-out anyway.
#include <windows.h>
// After windows.h, which it needs.
#include <winhttp.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "quelby/core/ascii_text.h"
#include "quelby/core/wide_text_win32.h"
#include "quelby/resources/resource_load.h"

namespace quelby {

namespace {

constexpr DWORD CONNECT_TIMEOUT_MS = 10'000;  // to resolve the name, and again to connect
// A server that sends nothing for this long is given up on; a slow but moving one is not.
constexpr DWORD STALL_TIMEOUT_MS = 30'000;
constexpr DWORD MAX_REDIRECTS = 5;
constexpr DWORD READ_BUFFER_BYTES = 64U * 1024U;
constexpr int HTTP_OK_FIRST = 200;
constexpr int HTTP_OK_LAST = 299;
constexpr int HTTP_REDIRECT_FIRST = 300;
constexpr int HTTP_REDIRECT_LAST = 399;

// What WinHTTP's notifications tell the waiting thread.
struct Exchange {
    std::mutex mutex;
    std::condition_variable_any changed;
    bool completed = false;
    DWORD error = ERROR_SUCCESS;
    DWORD bytes_available = 0;
    DWORD bytes_read = 0;
    int redirects = 0;
    bool secure = false;  // whether the address now asked for is https
    bool redirect_refused = false;
    DWORD secure_failure = 0;  // WINHTTP_CALLBACK_STATUS_FLAG_* of a failed TLS handshake
    std::vector<char> buffer = std::vector<char>(READ_BUFFER_BYTES);
};

// The exchanges of the requests still open, by the context value WinHTTP hands to their
// notifications. A step cut short by a stop request may still complete, and write into the buffer,
// after its load has returned: the exchange stays until the request handle's last notification.
class Exchanges {
  public:
    // Never destroyed: WinHTTP's threads may still notify while the process exits.
    static Exchanges& instance() {
        static auto* const exchanges = new Exchanges;
        return *exchanges;
    }

    DWORD_PTR add(std::shared_ptr<Exchange> exchange) {
        const std::lock_guard lock(mutex_);
        const DWORD_PTR context = next_++;
        by_context_.emplace(context, std::move(exchange));
        return context;
    }
    std::shared_ptr<Exchange> find(DWORD_PTR context) {
        const std::lock_guard lock(mutex_);
        const auto found = by_context_.find(context);
        return found == by_context_.end() ? nullptr : found->second;
    }
    void remove(DWORD_PTR context) {
        const std::lock_guard lock(mutex_);
        by_context_.erase(context);
    }

  private:
    std::mutex mutex_;
    std::unordered_map<DWORD_PTR, std::shared_ptr<Exchange>> by_context_;
    DWORD_PTR next_ = 1;
};

enum class Scheme { unchanged, http, https, other };

// The scheme a redirect's address names: none (a relative reference), http, https or another.
Scheme scheme_of_location(const wchar_t* location) {
    const std::string address = wide_to_utf8(location);
    const std::size_t colon = address.find(':');
    if (colon == std::string::npos || colon == 0 || !is_ascii_alpha(address[0])) {
        return Scheme::unchanged;
    }
    const std::string_view scheme = std::string_view(address).substr(0, colon);
    for (const char c : scheme) {
        if (!is_ascii_alpha(c) && (c < '0' || c > '9') && c != '+' && c != '-' && c != '.') {
            return Scheme::unchanged;  // not a scheme: a relative path with a colon in it
        }
    }
    if (equals_ignoring_ascii_case(scheme, "http")) {
        return Scheme::http;
    }
    return equals_ignoring_ascii_case(scheme, "https") ? Scheme::https : Scheme::other;
}

void CALLBACK on_status(HINTERNET /*handle*/, DWORD_PTR context, DWORD status, LPVOID info,
                        DWORD length) {
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        Exchanges::instance().remove(context);  // the request's last notification
        return;
    }
    const std::shared_ptr<Exchange> shared = Exchanges::instance().find(context);
    if (shared == nullptr) {
        return;
    }
    Exchange& exchange = *shared;
    const std::lock_guard lock(exchange.mutex);
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            exchange.completed = true;
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            exchange.bytes_available = info != nullptr ? *static_cast<DWORD*>(info) : 0;
            exchange.completed = true;
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            exchange.bytes_read = length;
            exchange.completed = true;
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            exchange.error = info != nullptr ? static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError
                                             : ERROR_WINHTTP_INTERNAL_ERROR;
            exchange.completed = true;
            break;
        case WINHTTP_CALLBACK_STATUS_REDIRECT: {
            ++exchange.redirects;
            const Scheme scheme = info != nullptr
                                      ? scheme_of_location(static_cast<const wchar_t*>(info))
                                      : Scheme::other;
            if (scheme == Scheme::other) {
                // WinHTTP refuses these on Windows, but Wine follows them as if they were http.
                // Ending the step here lets the loading thread's close stop the redirect.
                exchange.redirect_refused = true;
                exchange.error = ERROR_WINHTTP_REDIRECT_FAILED;
                exchange.completed = true;
                break;
            }
            if (scheme != Scheme::unchanged) {
                exchange.secure = scheme == Scheme::https;
            }
            return;
        }
        case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
            if (info != nullptr && length >= sizeof(DWORD)) {
                exchange.secure_failure |= *static_cast<DWORD*>(info);
            }
            return;
        default:
            return;
    }
    exchange.changed.notify_all();
}

// The load's handles, each closed exactly once, by the loading thread, the request first: closing
// it cancels a step still under way.
struct Handles {
    HINTERNET session = nullptr;
    HINTERNET connect = nullptr;
    HINTERNET request = nullptr;

    Handles() = default;
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;
    ~Handles() {
        for (HINTERNET handle : {request, connect, session}) {
            if (handle != nullptr) {
                WinHttpCloseHandle(handle);
            }
        }
    }
};

enum class Step { completed, failed, stopped };

// Starts each asynchronous step and waits for its notification or the stop request.
class StepRunner {
  public:
    StepRunner(Exchange& exchange, std::stop_token stop)
        : exchange_(exchange), stop_(std::move(stop)) {}

    template <class Start>
    Step run(Start start) {
        if (stop_.stop_requested()) {
            return Step::stopped;
        }
        {
            const std::lock_guard lock(exchange_.mutex);
            exchange_.completed = false;
            exchange_.error = ERROR_SUCCESS;
        }
        // Not under the lock: WinHTTP may notify on this thread before the call returns.
        if (!start()) {
            error_ = GetLastError();
            return Step::failed;
        }
        std::unique_lock lock(exchange_.mutex);
        if (!exchange_.changed.wait(lock, stop_, [&] { return exchange_.completed; })) {
            return Step::stopped;
        }
        error_ = exchange_.error;
        return error_ == ERROR_SUCCESS ? Step::completed : Step::failed;
    }
    // The error of the step that failed.
    [[nodiscard]] DWORD error() const { return error_; }

  private:
    Exchange& exchange_;
    std::stop_token stop_;
    DWORD error_ = ERROR_SUCCESS;
};

bool set_number_option(HINTERNET handle, DWORD option, DWORD value) {
    return WinHttpSetOption(handle, option, &value, sizeof value) != FALSE;
}

constexpr DWORD CERTIFICATE_PROBLEMS =
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID | WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE;

// The outcomes the Linux loader gives for the same failures. Wine reports some socket failures by
// their Winsock codes rather than WinHTTP's.
LoadOutcome outcome_of(DWORD error, const Exchange& exchange) {
    if (exchange.redirect_refused) {
        return failed_load(LoadFailure::RefusedRedirect);
    }
    switch (error) {
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return failed_load(LoadFailure::NameNotResolved);
        case ERROR_WINHTTP_CANNOT_CONNECT:
        case WSAECONNREFUSED:
            return failed_load(LoadFailure::ConnectionRefused);
        case ERROR_WINHTTP_TIMEOUT:
        case WSAETIMEDOUT:
            return failed_load(LoadFailure::TimedOut);
        case ERROR_WINHTTP_REDIRECT_FAILED:
            // Past the limit, else to another scheme, or from https to http, which WinHTTP never
            // follows.
            if (exchange.redirects >= static_cast<int>(MAX_REDIRECTS)) {
                return failed_load(LoadFailure::TooManyRedirects);
            }
            if (exchange.secure) {
                return failed_load(LoadFailure::UnsafeRedirect);
            }
            return failed_load(LoadFailure::RefusedRedirect);
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
            return failed_load(LoadFailure::RefusedRedirect);
        case ERROR_WINHTTP_INVALID_URL:
            return failed_load(LoadFailure::InvalidUrl);
        case ERROR_WINHTTP_SECURE_FAILURE:
            if ((exchange.secure_failure & CERTIFICATE_PROBLEMS) == 0) {
                return failed_load(LoadFailure::TlsError);
            }
            return failed_load(LoadFailure::CertificateInvalid);
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        case ERROR_WINHTTP_SECURE_INVALID_CERT:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
            return failed_load(LoadFailure::CertificateInvalid);
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
            return failed_load(LoadFailure::TlsError);
        case ERROR_WINHTTP_CONNECTION_ERROR:
        case WSAECONNRESET:
        case WSAECONNABORTED:
            return failed_load(LoadFailure::ConnectionReset);
        case ERROR_WINHTTP_OPERATION_CANCELLED:
            return failed_load(LoadFailure::Aborted);
        default:
            return failed_load(LoadFailure::Failed);
    }
}

struct Target {
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;  // with the query, without the fragment
    bool secure = false;
};

bool has_control_character(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20U || byte == 0x7FU) {
            return true;
        }
    }
    return false;
}

// The URL's parts, or the outcome that refuses it. Split here rather than by WinHttpCrackUrl,
// which in Wine cannot read a bracketed IPv6 address.
std::variant<Target, LoadOutcome> target_of(std::string_view url) {
    const LoadOutcome invalid = failed_load(LoadFailure::InvalidUrl);
    if (has_control_character(url) || url.find(' ') != std::string_view::npos) {
        return invalid;
    }
    Target target;
    std::string_view rest;
    if (starts_with_ignoring_ascii_case(url, "http://")) {
        rest = url.substr(7);
        target.port = INTERNET_DEFAULT_HTTP_PORT;
    } else if (starts_with_ignoring_ascii_case(url, "https://")) {
        rest = url.substr(8);
        target.port = INTERNET_DEFAULT_HTTPS_PORT;
        target.secure = true;
    } else {
        return failed_load(LoadFailure::RefusedRedirect);
    }
    const std::size_t authority_end = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, authority_end);
    std::string_view path = rest.substr(authority_end);
    // Credentials in the address are not sent; the server's 401 says so.
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return invalid;
        }
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && !after.starts_with(':')) {
            return invalid;
        }
        port = after.empty() ? after : after.substr(1);
    } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty() || host == "[]") {
        return invalid;
    }
    if (!port.empty()) {
        unsigned number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (error != std::errc{} || end != port.data() + port.size() || number == 0 ||
            number > std::numeric_limits<INTERNET_PORT>::max()) {
            return invalid;
        }
        target.port = static_cast<INTERNET_PORT>(number);
    }
    // The fragment stays with the client, as in any browser.
    path = path.substr(0, std::min(path.find('#'), path.size()));
    target.host = utf8_to_wide(host);
    target.path = utf8_to_wide(path);
    if (!target.path.starts_with(L'/')) {
        target.path.insert(0, 1, L'/');
    }
    return target;
}

// The front end's headers come as "Name: value" lines; a line that cannot be one header is left
// out rather than let it split into others.
void add_request_headers(HINTERNET request, std::string_view headers) {
    std::string_view rest = headers;
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 2);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || has_control_character(line)) {
            continue;
        }
        const std::wstring wide = utf8_to_wide(line);
        static_cast<void>(WinHttpAddRequestHeaders(
            request, wide.c_str(), static_cast<DWORD>(wide.size()), WINHTTP_ADDREQ_FLAG_ADD));
    }
}

DWORD status_code(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return status;
}

// A header of the reply as text; empty when it has none.
std::string header_text(HINTERNET request, DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    text.resize(size / sizeof(wchar_t));
    return wide_to_utf8(text);
}

// The announced length of the body as it comes over the wire, when the reply has a readable one.
std::optional<unsigned long long> content_length(HINTERNET request) {
    const std::string text = header_text(request, WINHTTP_QUERY_CONTENT_LENGTH);
    unsigned long long length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (text.empty() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (error == std::errc::result_out_of_range) {
        return std::numeric_limits<unsigned long long>::max();  // over every limit
    }
    return error == std::errc{} ? std::optional(length) : std::nullopt;
}

}  // namespace

LoadOutcome load_http_resource(std::string_view url, std::string_view request_headers,
                               const LoadLimits& limits, const ChunkSink& sink,
                               std::stop_token stop) {
    if (stop.stop_requested()) {
        return failed_load(LoadFailure::Aborted);
    }
    auto parsed = target_of(url);
    if (auto* refused = std::get_if<LoadOutcome>(&parsed)) {
        return std::move(*refused);
    }
    const Target& target = std::get<Target>(parsed);

    const auto exchange = std::make_shared<Exchange>();
    exchange->secure = target.secure;
    Handles handles;
    handles.session =
        WinHttpOpen(L"quelby_inspector", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                    WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (handles.session == nullptr) {
        return failed_load(LoadFailure::InternalError);
    }
    handles.connect = WinHttpConnect(handles.session, target.host.c_str(), target.port, 0);
    if (handles.connect == nullptr) {
        return outcome_of(GetLastError(), *exchange);
    }
    handles.request = WinHttpOpenRequest(handles.connect, L"GET", target.path.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         target.secure ? WINHTTP_FLAG_SECURE : 0);
    if (handles.request == nullptr) {
        return outcome_of(GetLastError(), *exchange);
    }
    HINTERNET request = handles.request;

    auto context = Exchanges::instance().add(exchange);
    if (!WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context) ||
        WinHttpSetStatusCallback(
            request, on_status,
            WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_REDIRECT |
                WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_HANDLES,
            0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        Exchanges::instance().remove(context);  // no notification will come
        return failed_load(LoadFailure::InternalError);
    }

    const bool limited =
        WinHttpSetTimeouts(request, CONNECT_TIMEOUT_MS, CONNECT_TIMEOUT_MS, STALL_TIMEOUT_MS,
                           STALL_TIMEOUT_MS) &&
        set_number_option(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, STALL_TIMEOUT_MS) &&
        set_number_option(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, MAX_REDIRECTS) &&
        set_number_option(request, WINHTTP_OPTION_REDIRECT_POLICY,
                          WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP);
    if (!limited) {
        return failed_load(LoadFailure::InternalError);
    }
    // Windows 8.1 and later decode gzip and deflate (and then ask for them); elsewhere the reply
    // comes as the server sends it, which it does unencoded to a client that asks for nothing.
    static_cast<void>(
        set_number_option(request, WINHTTP_OPTION_DECOMPRESSION, WINHTTP_DECOMPRESSION_FLAG_ALL));
    add_request_headers(request, request_headers);

    StepRunner steps(*exchange, std::move(stop));
    const auto failure = [&](Step step) {
        if (step == Step::stopped) {
            return failed_load(LoadFailure::Aborted);
        }
        const std::lock_guard lock(exchange->mutex);
        return outcome_of(steps.error(), *exchange);
    };
    Step step = steps.run([&] {
        return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, context);
    });
    if (step != Step::completed) {
        return failure(step);
    }
    step = steps.run([&] { return WinHttpReceiveResponse(request, nullptr); });
    if (step != Step::completed) {
        return failure(step);
    }

    const DWORD status = status_code(request);
    const auto length = content_length(request);
    if (length && *length > limits.max_bytes) {
        return failed_load(LoadFailure::FileTooBig);
    }
    if (status < HTTP_OK_FIRST || status > HTTP_OK_LAST) {
        const std::lock_guard lock(exchange->mutex);
        if (status >= HTTP_REDIRECT_FIRST && status <= HTTP_REDIRECT_LAST &&
            exchange->redirects >= static_cast<int>(MAX_REDIRECTS)) {
            return failed_load(LoadFailure::TooManyRedirects);
        }
        // The error page itself is not read.
        return failed_http_status(static_cast<int>(status));
    }

    Utf8Chunker chunker(limits.chunk_bytes);
    std::size_t received = 0;
    while (true) {
        // Asked first, then read: a read of more than has arrived may wait for the rest (Wine's
        // does, on the calling thread, where no stop request can end it).
        step = steps.run([&] { return WinHttpQueryDataAvailable(request, nullptr); });
        if (step != Step::completed) {
            return failure(step);
        }
        DWORD available = 0;
        {
            const std::lock_guard lock(exchange->mutex);
            available = std::min(exchange->bytes_available, READ_BUFFER_BYTES);
        }
        if (available == 0) {
            break;
        }
        step = steps.run(
            [&] { return WinHttpReadData(request, exchange->buffer.data(), available, nullptr); });
        if (step != Step::completed) {
            return failure(step);
        }
        // The read has completed: nothing writes into the buffer until the next one starts.
        DWORD bytes = 0;
        {
            const std::lock_guard lock(exchange->mutex);
            bytes = exchange->bytes_read;
        }
        if (bytes == 0) {
            break;
        }
        received += bytes;
        if (received > limits.max_bytes) {
            return failed_load(LoadFailure::FileTooBig);
        }
        if (!chunker.add(std::string_view(exchange->buffer.data(), bytes), sink)) {
            return failed_load(LoadFailure::Aborted);
        }
    }
    // A body cut short by the server ends without an error from WinHTTP. Its length can be checked
    // only where it arrived as sent (WinHTTP decodes compressed bodies).
    const std::string encoding = header_text(request, WINHTTP_QUERY_CONTENT_ENCODING);
    if (length && received < *length &&
        (encoding.empty() || equals_ignoring_ascii_case(encoding, "identity"))) {
        return failed_load(LoadFailure::ConnectionReset);
    }
    if (!chunker.finish(sink)) {
        return failed_load(LoadFailure::Aborted);
    }
    return LoadOutcome{
        .status_code = static_cast<int>(status), .net_error = 0, .net_error_name = {}};
}

}  // namespace quelby
