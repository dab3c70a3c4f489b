#include "serve_session.h"

#include <chrono>
#include <span>
#include <stop_token>

#include "quelby/resources/resource_load.h"
#include "quelby/serve/frontend_server.h"
#include "quelby/serve/serve_rules.h"
#include "serve_root_lookup.h"

#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

namespace quelby::serve {
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

// Boost 1.74's Beast speaks boost::string_view.
std::string_view std_view(beast::string_view text) {
    return {text.data(), text.size()};
}

beast::string_view beast_view(std::string_view text) {
    return {text.data(), text.size()};
}

// A head the parser refused, as opposed to a peer that left (before or within a head).
bool is_malformed_request(const beast::error_code& error) {
    return error && error.category() == http::make_error_code(http::error::bad_target).category() &&
           error != http::error::end_of_stream && error != http::error::partial_message;
}

}  // namespace

const std::string& DateCache::now() {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    if (seconds != formatted_for_) {
        formatted_for_ = seconds;
        text_ = http_date(static_cast<std::uint64_t>(seconds));
    }
    return text_;
}

Session::Session(tcp::socket socket, Site& site, std::shared_ptr<ConnectionTable> table)
    : stream_(std::move(socket)),
      site_(site),
      seat_(std::move(table), *this),
      buffer_(SERVE_HEADER_LIMIT * 4) {}

void Session::start() {
    read_request();
}

void Session::evict() {
    seat_.leave();
    close();
}

void Session::read_request() {
    skipped_empty_line_ = false;
    read_head();
}

void Session::read_head() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(SERVE_HEADER_LIMIT));
    parser_->body_limit(SERVE_BODY_LIMIT);
    stream_.expires_after(READ_TIMEOUT);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                                self->on_header(error);
                            });
}

void Session::on_header(beast::error_code error) {
    if (error == http::error::header_limit || error == http::error::buffer_overflow) {
        send(refuse(UnreadableHead::TooLarge, buffered(), site_.dates.now()));
    } else if (error == http::error::body_limit) {
        send(refuse(UnreadableHead::BodyTooLarge, buffered(), site_.dates.now()));
    } else if (is_malformed_request(error) && !skipped_empty_line_ &&
               buffered().starts_with("\r\n")) {
        // A client may end what it sent before (a body, a request) with a line break too many;
        // one is forgiven.
        buffer_.consume(2);
        skipped_empty_line_ = true;
        read_head();
    } else if (is_malformed_request(error)) {
        send(refuse(UnreadableHead::Malformed, buffered(), site_.dates.now()));
    } else if (error || !parser_) {
        close();  // the peer left, reset or timed out
    } else {
        seat_.completed_request();
        answer();
    }
}

std::string_view Session::buffered() const {
    return {static_cast<const char*>(buffer_.data().data()), buffer_.size()};
}

void Session::answer() {
    const auto& request = parser_->get();
    fields_.clear();
    for (const auto& field : request) {
        fields_.push_back({std_view(field.name_string()), std_view(field.value())});
    }
    const auto content_length = parser_->content_length();
    const RequestHead head{
        .method = std_view(request.method_string()),
        .target = std_view(request.target()),
        .version = request.version(),
        .fields = fields_,
        .keep_alive = parser_->keep_alive(),
        .chunked = parser_->chunked(),
        .content_length = content_length ? std::optional(*content_length) : std::nullopt,
    };
    ServeContext context = site_.context;
    context.date = site_.dates.now();

    const Decision decision = respond(head, context);
    if (const auto* response = std::get_if<Response>(&decision)) {
        send(*response);
    } else if (const auto* root = std::get_if<FollowRoot>(&decision)) {
        follow_root(root->framing);
    } else {
        read_local_file(std::get<ReadLocalFile>(decision));
    }
}

void Session::follow_root(const Framing& framing) {
    site_.root.follow([self = shared_from_this(), framing](const std::string& location) {
        self->send(redirect_response(framing, location, self->site_.dates.now()));
    });
}

// Read whole, once; a failure is answered in the front end's own terms.
void Session::read_local_file(const ReadLocalFile& read) {
    loaded_.clear();
    const LoadOutcome outcome = load_resource(
        read.url, "", LoadLimits{},
        [this](const std::string& chunk) {
            loaded_ += chunk;
            return true;
        },
        std::stop_token{});
    if (!outcome.succeeded()) {
        loaded_ = std::to_string(outcome.net_error) + " " + outcome.net_error_name;
        send(local_file_error_response(read.framing, outcome.status_code, loaded_,
                                       site_.dates.now()));
    } else {
        send(local_file_response(read.framing, loaded_, site_.dates.now()));
    }
}

void Session::send(const Response& response) {
    response_ =
        http::response<Body>(static_cast<http::status>(response.status), response.framing.version);
    for (const Field& field : response.headers) {
        response_.set(beast_view(field.name), beast_view(field.value));
    }
    if (response.content_length) {
        response_.content_length(*response.content_length);
    }
    response_.body() = std::span<const char>(response.body.data(), response.body.size());
    close_after_ = response.framing.close_after;

    serializer_.emplace(response_);
    stream_.expires_after(WRITE_TIMEOUT);
    auto on_written = [self = shared_from_this()](beast::error_code error, std::size_t) {
        self->on_written(error);
    };
    if (response.framing.head_only) {
        http::async_write_header(stream_, *serializer_, std::move(on_written));
    } else {
        http::async_write(stream_, *serializer_, std::move(on_written));
    }
}

void Session::on_written(beast::error_code error) {
    serializer_.reset();
    if (error) {
        close();
    } else if (close_after_) {
        linger();
    } else {
        read_request();
    }
}

// Ends our side and drains what the client still sends until it closes, so that the answer is not
// lost to a reset caused by unread data (a refused body, an over-long head).
void Session::linger() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(LINGER_TIMEOUT);
    drain();
}

void Session::drain() {
    stream_.async_read_some(asio::buffer(scratch_),
                            [self = shared_from_this()](beast::error_code error, std::size_t got) {
                                self->drained_ += got;
                                if (error || self->drained_ > LINGER_LIMIT) {
                                    self->close();
                                } else {
                                    self->drain();
                                }
                            });
}

void Session::close() {
    beast::error_code ignored;
    stream_.socket().close(ignored);
}

}  // namespace quelby::serve
