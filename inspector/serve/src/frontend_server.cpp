#include "quelby/serve/frontend_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <list>
#include <optional>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "http_reason_phrase.h"
#include "quelby/assets/asset_route.h"
#include "quelby/assets/asset_table.h"
#include "quelby/assets/frontend_url.h"
#include "quelby/discovery/socket_address.h"
#include "quelby/resources/random_token.h"
#include "quelby/resources/resource_load.h"
#include "quelby/serve/serve_rules.h"
#include "serve_host_routes.h"
#include "serve_platform.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/span_body.hpp>
#include <boost/beast/http/write.hpp>

namespace quelby {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using namespace std::chrono_literals;

// The head of a request (and a kept-alive connection's idle time) must arrive within this.
constexpr auto READ_TIMEOUT = 15s;
// One response, the largest file included, must be taken within this.
constexpr auto WRITE_TIMEOUT = 60s;
// After a response that closes the connection, the client's unread bytes are drained for this long
// (at most LINGER_LIMIT of them), so that the close does not reset the connection under the answer.
constexpr auto LINGER_TIMEOUT = 2s;
constexpr std::size_t LINGER_LIMIT = std::size_t{4} * 1024 * 1024;
// A failing accept (out of descriptors) is retried after this pause instead of spinning.
constexpr auto ACCEPT_RETRY = 100ms;

// The files never change while the program runs, but another build of the program may serve other
// files under the same names at the same address: browsers revalidate (cheaply, by ETag) rather
// than trusting a cached copy across program versions.
constexpr std::string_view CACHE_CONTROL = "no-cache";

constexpr std::string_view HTML_CONTENT_TYPE = "text/html; charset=utf-8";
constexpr std::string_view SCRIPT_CONTENT_TYPE = "text/javascript; charset=utf-8";
constexpr std::string_view LOADED_CONTENT_TYPE = "text/plain; charset=utf-8";

// The front end's start page, as embedded.
std::string_view js_app_html() {
    const AssetEntry* entry = AssetTable::lookup(START_DOCUMENT);
    return entry == nullptr ? std::string_view{}
                            : std::string_view(reinterpret_cast<const char*>(entry->bytes.data()),
                                               entry->bytes.size());
}

using Body = http::span_body<const char>;
using Response = http::response<Body>;

// Boost 1.74's Beast speaks boost::string_view.
std::string_view std_view(beast::string_view text) {
    return {text.data(), text.size()};
}

beast::string_view beast_view(std::string_view text) {
    return {text.data(), text.size()};
}

std::span<const char> text_span(std::string_view text) {
    return {text.data(), text.size()};
}

std::span<const char> bytes_span(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string_view reason_text(http::status status) {
    if (status == http::status::not_found) {
        // The scheme handler's 404 body.
        return {reinterpret_cast<const char*>(NOT_FOUND_BODY.data()), NOT_FOUND_BODY.size()};
    }
    return http_reason_phrase(static_cast<int>(status));
}

// A head the parser refused, as opposed to a peer that left (before or within a head).
bool is_malformed_request(const beast::error_code& error) {
    return error && error.category() == http::make_error_code(http::error::bad_target).category() &&
           error != http::error::end_of_stream && error != http::error::partial_message;
}

ErrorChain os_error(const boost::system::error_code& error) {
    return ErrorChain::from_os_error(error.value());
}

// The precomputed validators of every embedded file, by its index in the table.
struct Validators {
    std::vector<std::string> etags;
    std::vector<std::optional<std::string>> last_modified;
    std::vector<std::optional<std::uint64_t>> last_modified_seconds;
};

Validators compute_validators() {
    Validators validators;
    for (const AssetEntry& entry : AssetTable::entries()) {
        validators.etags.push_back(serve::entity_tag(entry.sha256));
        validators.last_modified_seconds.push_back(entry.last_modified);
        validators.last_modified.push_back(
            entry.last_modified ? std::optional(serve::http_date(*entry.last_modified))
                                : std::nullopt);
    }
    return validators;
}

// The Date header, formatted once per second.
class DateCache {
  public:
    const std::string& now() {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
        if (seconds != formatted_for_) {
            formatted_for_ = seconds;
            text_ = serve::http_date(static_cast<std::uint64_t>(seconds));
        }
        return text_;
    }

  private:
    std::int64_t formatted_for_ = -1;
    std::string text_;
};

class Connection;

}  // namespace

struct FrontendServer::Impl {
    // The connections that count against the limit, the one that has gone longest without
    // completing a request first. Declared before the io_context: connections, destroyed with its
    // pending handlers, take themselves out of it.
    std::list<Connection*> connections;
    std::size_t max_connections = SERVE_MAX_CONNECTIONS;
    std::string bound_name;
    std::string origin;
    std::string front_end_target;
    Validators validators = compute_validators();
    // The run's secret, without which no local file is served, and the pages built around the
    // embedder; constant while the server lives, so answers refer to them without copies.
    std::string secret = random_token();
    std::string start_page = serve::start_page_html(js_app_html());
    std::string host_script = serve::served_host_script();
    DateCache date;

    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer accept_retry{io};
    std::uint16_t port = 0;

    std::optional<serve::StopRequests> stop_requests;

    // The lookup of where "/" leads; only the io thread touches these but `stopping`. Declared
    // after the io_context: the answers still waiting hold connections. A lookup is under way
    // exactly while some answer waits for it.
    using Redirect = std::function<void(const std::string& front_end_target)>;
    FrontEndLookup lookup;
    std::vector<Redirect> awaiting_lookup;
    std::atomic<bool> stopping{false};
    std::thread lookup_thread;

    void accept();
    // Answers with where "/" leads: at once without a lookup, else when the next lookup ends.
    void redirect_root(Redirect redirect);
    void start_lookup();
    void close_listener() {
        boost::system::error_code ignored;
        acceptor.close(ignored);
        accept_retry.cancel();
    }
    void stop() {
        close_listener();
        io.stop();
    }
};

namespace {

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(tcp::socket socket, FrontendServer::Impl& server)
        : stream_(std::move(socket)),
          server_(server),
          place_(server_.connections.insert(server_.connections.end(), this)) {}
    ~Connection() {
        if (counted_) {
            server_.connections.erase(place_);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void read_request() {
        skipped_empty_line_ = false;
        read_head();
    }

    // Closes the connection to make room for a new one. It leaves the table at once: its pending
    // operations may still end after the next accept.
    void evict() {
        server_.connections.erase(place_);
        counted_ = false;
        close();
    }

  private:
    void read_head() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(SERVE_HEADER_LIMIT));
        parser_->body_limit(SERVE_BODY_LIMIT);
        stream_.expires_after(READ_TIMEOUT);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code error, std::size_t) {
                                    self->on_header(error);
                                });
    }

    void on_header(beast::error_code error) {
        if (error == http::error::header_limit || error == http::error::buffer_overflow) {
            send_error(target_overflowed() ? http::status::uri_too_long
                                           : http::status::request_header_fields_too_large,
                       11);
        } else if (error == http::error::body_limit) {
            send_error(http::status::payload_too_large, 11);
        } else if (is_malformed_request(error) && !skipped_empty_line_ &&
                   buffered().starts_with("\r\n")) {
            // A client may end what it sent before (a body, a request) with a line break too
            // many; one is forgiven.
            buffer_.consume(2);
            skipped_empty_line_ = true;
            read_head();
        } else if (is_malformed_request(error)) {
            send_error(http::status::bad_request, 11);
        } else if (error || !parser_) {
            close();  // the peer left, reset or timed out
        } else {
            if (counted_) {
                // The most recent to complete a request: the last to be closed for room.
                server_.connections.splice(server_.connections.end(), server_.connections, place_);
            }
            answer(*parser_);
        }
    }

    // The bytes read and not yet parsed.
    [[nodiscard]] std::string_view buffered() const {
        return {static_cast<const char*>(buffer_.data().data()), buffer_.size()};
    }

    // Whether a head over the limit broke off inside its request target: the request line has not
    // ended, and nothing but the target follows its first blank.
    [[nodiscard]] bool target_overflowed() const {
        const std::string_view head = buffered();
        if (head.find('\n') != std::string_view::npos) {
            return false;
        }
        const std::size_t blank = head.find(' ');
        return blank != std::string_view::npos &&
               head.find(' ', blank + 1) == std::string_view::npos;
    }

    // Answers a host that is not allowed; false then.
    bool host_allowed(std::string_view host, unsigned version) {
        switch (serve::check_host(host, server_.bound_name)) {
            case serve::HostVerdict::Allowed:
                return true;
            case serve::HostVerdict::Forbidden:
                send_error(http::status::forbidden, version);
                return false;
            case serve::HostVerdict::Malformed:
                send_error(http::status::bad_request, version);
                return false;
        }
        return false;
    }

    void answer(const http::request_parser<http::empty_body>& parser) {
        const http::request<http::empty_body>& request = parser.get();
        const auto content_length = parser.content_length();
        const bool has_body = parser.chunked() || (content_length && *content_length > 0);
        // A body is never read, so the connection cannot carry another request after it.
        close_after_ = !parser.keep_alive() || has_body;
        const unsigned version = request.version() == 10 ? 10 : 11;
        // Known before any answer, errors included: a HEAD is answered without a body whatever
        // its answer, or the next reply on the connection would start inside that body.
        head_only_ = request.method() == http::verb::head;
        // A body whose framing is not chunked has no length this server can read (RFC 9112 6.3):
        // what follows could be taken for another request, so the connection ends here.
        if (request.find(http::field::transfer_encoding) != request.end() && !parser.chunked()) {
            close_after_ = true;
            send_error(http::status::bad_request, version);
            return;
        }

        const auto hosts = request.equal_range(http::field::host);
        const auto host_count = std::distance(hosts.first, hosts.second);
        if (host_count != 1) {
            send_error(http::status::bad_request, version);
            return;
        }
        if (!host_allowed(std_view(hosts.first->value()), version)) {
            return;
        }
        // A target in absolute form names its host as well, and that name is the one the request
        // is for: a foreign name there must not pass behind an allowed Host.
        if (const auto authority = serve::target_authority(std_view(request.target()));
            authority && !host_allowed(*authority, version)) {
            return;
        }
        if (static_cast<std::size_t>(std::distance(request.begin(), request.end())) >
            SERVE_MAX_FIELDS) {
            send_error(http::status::request_header_fields_too_large, version);
            return;
        }
        const http::verb method = request.method();
        if (method != http::verb::get && method != http::verb::head) {
            send_error(http::status::method_not_allowed, version);
            return;
        }

        const std::string_view target = std_view(request.target());
        const std::string_view path = serve::target_path(target);
        if (path == serve::SERVED_START_PATH) {
            serve_generated(server_.start_page, HTML_CONTENT_TYPE, version);
            return;
        }
        if (path == serve::HOST_SCRIPT_PATH) {
            serve_generated(server_.host_script, SCRIPT_CONTENT_TYPE, version);
            return;
        }
        if (path == serve::HOST_FILE_PATH) {
            serve_local_file(target, version);
            return;
        }

        const AssetRoute route = route_asset_uri(std_view(request.target()));
        if (route.default_document) {
            server_.redirect_root(
                [self = shared_from_this(), version](const std::string& front_end_target) {
                    self->send_redirect(front_end_target, version);
                });
            return;
        }
        if (route.entry == nullptr) {
            send_error(http::status::not_found, version);
            return;
        }
        serve_file(request, *route.entry, route.content_type, version);
    }

    void send_redirect(const std::string& front_end_target, unsigned version) {
        start_response(http::status::found, version);
        response_.set(http::field::location, front_end_target);
        response_.set(http::field::cache_control, "no-store");
        response_.content_length(0);
        send();
    }

    void serve_file(const http::request<http::empty_body>& request, const AssetEntry& entry,
                    std::string_view content_type, unsigned version) {
        const auto index = static_cast<std::size_t>(&entry - AssetTable::entries().data());
        const std::string& etag = server_.validators.etags[index];
        const std::optional<std::string>& last_modified = server_.validators.last_modified[index];

        // If-None-Match decides when present; If-Modified-Since only counts without it.
        bool not_modified = false;
        if (const auto match = request.find(http::field::if_none_match); match != request.end()) {
            not_modified = serve::if_none_match_matches(std_view(match->value()), etag);
        } else if (const auto since = request.find(http::field::if_modified_since);
                   since != request.end()) {
            const auto since_seconds = serve::parse_http_date(std_view(since->value()));
            const auto& modified = server_.validators.last_modified_seconds[index];
            not_modified = since_seconds && modified && *modified <= *since_seconds;
        }

        start_response(not_modified ? http::status::not_modified : http::status::ok, version);
        response_.set(http::field::etag, etag);
        if (last_modified) {
            response_.set(http::field::last_modified, *last_modified);
        }
        response_.set(http::field::cache_control, beast_view(CACHE_CONTROL));
        if (!not_modified) {
            response_.set(http::field::content_type, beast_view(content_type));
            response_.body() = bytes_span(entry.bytes);
            response_.content_length(entry.bytes.size());
        }
        send();
    }

    void serve_generated(const std::string& body, std::string_view content_type, unsigned version) {
        start_response(http::status::ok, version);
        send_uncached(body, content_type);
    }

    // The body of a started response that no cache may keep (it is made for this run or this
    // request); `body` must outlive the send.
    void send_uncached(const std::string& body, std::string_view content_type) {
        response_.set(http::field::content_type, beast_view(content_type));
        response_.set(http::field::cache_control, "no-store");
        response_.body() = text_span(body);
        response_.content_length(body.size());
        send();
    }

    // A local file for the page's embedder, read whole once: only with the run's secret, only
    // file: URLs, and in the front end's own terms when it fails.
    void serve_local_file(std::string_view target, unsigned version) {
        const auto given = serve::query_parameter(target, serve::SECRET_PARAMETER);
        if (!given || !serve::same_secret(*given, server_.secret)) {
            send_error(http::status::forbidden, version);
            return;
        }
        const auto url = serve::query_parameter(target, "url");
        if (!url || !url->starts_with("file:")) {
            send_error(http::status::bad_request, version);
            return;
        }
        loaded_.clear();
        const LoadOutcome outcome = load_resource(
            *url, "", LoadLimits{},
            [this](const std::string& chunk) {
                loaded_ += chunk;
                return true;
            },
            std::stop_token{});
        if (!outcome.succeeded()) {
            loaded_ = std::to_string(outcome.net_error) + " " + outcome.net_error_name;
            start_response(static_cast<http::status>(outcome.status_code), version);
            response_.set("X-Net-Error", loaded_);
        } else {
            start_response(http::status::ok, version);
        }
        send_uncached(loaded_, LOADED_CONTENT_TYPE);
    }

    void start_response(http::status status, unsigned version) {
        response_ = Response(status, version);
        response_.set(http::field::date, server_.date.now());
        response_.set("X-Content-Type-Options", "nosniff");
        response_.keep_alive(!close_after_);
    }

    // A plain-text answer whose body is its reason phrase (404's is "Not Found", as the scheme
    // handler's); it closes the connection unless it is a 404 or 403 to a clean request.
    void send_error(http::status status, unsigned version) {
        if (status != http::status::not_found && status != http::status::forbidden) {
            close_after_ = true;
        }
        start_response(status, version);
        if (status == http::status::method_not_allowed) {
            response_.set(http::field::allow, "GET, HEAD");
        }
        const std::string_view text = reason_text(status);
        response_.set(http::field::content_type, beast_view(NOT_FOUND_CONTENT_TYPE));
        if (!head_only_) {
            response_.body() = text_span(text);
        }
        response_.content_length(text.size());
        send();
    }

    void send() {
        serializer_.emplace(response_);
        stream_.expires_after(WRITE_TIMEOUT);
        auto on_written = [self = shared_from_this()](beast::error_code error, std::size_t) {
            self->on_written(error);
        };
        if (head_only_) {
            http::async_write_header(stream_, *serializer_, std::move(on_written));
        } else {
            http::async_write(stream_, *serializer_, std::move(on_written));
        }
    }

    void on_written(beast::error_code error) {
        serializer_.reset();
        head_only_ = false;
        if (error) {
            close();
        } else if (close_after_) {
            linger();
        } else {
            read_request();
        }
    }

    // Ends our side and drains what the client still sends until it closes, so that the answer
    // is not lost to a reset caused by unread data (a refused body, an over-long head).
    void linger() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(LINGER_TIMEOUT);
        drain();
    }

    void drain() {
        stream_.async_read_some(
            asio::buffer(scratch_),
            [self = shared_from_this()](beast::error_code error, std::size_t got) {
                self->drained_ += got;
                if (error || self->drained_ > LINGER_LIMIT) {
                    self->close();
                } else {
                    self->drain();
                }
            });
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().close(ignored);
    }

    beast::tcp_stream stream_;
    FrontendServer::Impl& server_;
    // This connection's place in the server's table while it counts against the limit.
    std::list<Connection*>::iterator place_;
    bool counted_ = true;
    bool skipped_empty_line_ = false;  // before the request being read
    // Bounded: a head larger than the parser's limit fails before the buffer grows further.
    beast::flat_buffer buffer_{SERVE_HEADER_LIMIT * 4};
    std::optional<http::request_parser<http::empty_body>> parser_;
    Response response_;
    std::optional<http::response_serializer<Body>> serializer_;
    bool head_only_ = false;
    bool close_after_ = false;
    std::string loaded_;  // a local file being sent
    std::array<char, std::size_t{16} * 1024> scratch_{};
    std::size_t drained_ = 0;
};

}  // namespace

void FrontendServer::Impl::accept() {
    acceptor.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || !acceptor.is_open()) {
            return;
        }
        if (error) {
            accept_retry.expires_after(ACCEPT_RETRY);
            accept_retry.async_wait([this](const boost::system::error_code& wait_error) {
                if (!wait_error) {
                    accept();
                }
            });
            return;
        }
        // A full table makes room rather than turning the new client away: otherwise clients that
        // never finish a request, or keep idle connections alive, would lock everyone else out.
        while (!connections.empty() && connections.size() >= max_connections) {
            connections.front()->evict();
        }
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<Connection>(std::move(socket), *this)->read_request();
        accept();
    });
}

void FrontendServer::Impl::redirect_root(Redirect redirect) {
    if (!lookup) {
        redirect(front_end_target);
        return;
    }
    const bool idle = awaiting_lookup.empty();
    awaiting_lookup.push_back(std::move(redirect));
    if (idle) {
        start_lookup();
    }
}

void FrontendServer::Impl::start_lookup() {
    if (lookup_thread.joinable()) {
        lookup_thread.join();  // the previous lookup, which has handed its answer over already
    }
    lookup_thread = std::thread([this] {
        std::optional<std::string> found = lookup([this] { return stopping.load(); });
        // Never run once the server has stopped: the io_context drops it unrun.
        asio::post(io, [this, found = std::move(found)] {
            if (found) {
                front_end_target = *found;
            }
            for (const Redirect& redirect : std::exchange(awaiting_lookup, {})) {
                redirect(front_end_target);
            }
        });
    });
}

FrontendServer::FrontendServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FrontendServer::~FrontendServer() = default;

const std::string& FrontendServer::origin() const {
    return impl_->origin;
}

const std::string& FrontendServer::secret() const {
    return impl_->secret;
}

std::uint16_t FrontendServer::port() const {
    return impl_->port;
}

Result<std::unique_ptr<FrontendServer>> FrontendServer::listen(std::string_view address,
                                                               StopOn stop_on,
                                                               std::size_t max_connections) {
    const auto fail = [&](ErrorChain cause) {
        return std::unexpected(std::move(cause).with_context("failed to serve the front end on " +
                                                             std::string(address)));
    };
    auto plan = net::plan_address(address);
    if (!plan) {
        return fail(std::move(plan.error()));
    }
    auto impl = std::make_unique<Impl>();
    impl->max_connections = std::max<std::size_t>(max_connections, 1);
    net::SocketAddress bound;
    if (const auto* literal = std::get_if<net::SocketAddress>(&*plan)) {
        bound = *literal;
    } else {
        const auto& named = std::get<net::HostAndPort>(*plan);
        auto resolved = net::resolve_host(named.host, named.port);
        if (!resolved) {
            return fail(std::move(resolved.error()));
        }
        if (resolved->empty()) {
            return fail(ErrorChain::from_message(std::string(net::NO_ADDRESSES)));
        }
        bound = resolved->front();
        impl->bound_name = named.host;
    }

    tcp::endpoint endpoint;
    if (bound.family == net::Family::V4) {
        endpoint = {
            asio::ip::address_v4({bound.bytes[0], bound.bytes[1], bound.bytes[2], bound.bytes[3]}),
            bound.port};
    } else {
        endpoint = {asio::ip::address_v6(bound.bytes, bound.scope_id), bound.port};
    }
    boost::system::error_code error;
    impl->acceptor.open(endpoint.protocol(), error);
    if (!error) {
        serve::set_listener_options(impl->acceptor, error);
    }
    if (!error) {
        impl->acceptor.bind(endpoint, error);
    }
    if (!error) {
        impl->acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        return fail(os_error(error));
    }
    impl->port = impl->acceptor.local_endpoint(error).port();
    if (error) {
        return fail(os_error(error));
    }
    bound.port = impl->port;
    impl->origin = serve::origin_for(impl->bound_name, bound);
    if (stop_on == StopOn::CallOrInterrupt) {
        Impl& server = *impl;
        impl->stop_requests.emplace(impl->io, [&server] { server.stop(); });
    }
    return std::unique_ptr<FrontendServer>(new FrontendServer(std::move(impl)));
}

Status FrontendServer::run(std::string front_end_target, FrontEndLookup lookup) {
    impl_->front_end_target = std::move(front_end_target);
    impl_->lookup = std::move(lookup);
    impl_->accept();
    impl_->io.run();
    impl_->close_listener();
    impl_->stopping = true;
    if (impl_->lookup_thread.joinable()) {
        impl_->lookup_thread.join();
    }
    return {};
}

void FrontendServer::stop() {
    Impl& impl = *impl_;
    asio::post(impl.io, [&impl] { impl.stop(); });
}

}  // namespace quelby
