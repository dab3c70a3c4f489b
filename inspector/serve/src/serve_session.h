// One connection of the --serve server. It reads a request head, asks serve::respond() what to send
// and sends it; then it reads the next request, or lingers and closes. It decides nothing about
// HTTP itself: limits, time-outs and the one forgiven empty line are about reading.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quelby/serve/serve_response.h"
#include "serve_connection_table.h"

// Boost 1.74's Asio uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/span_body.hpp>

namespace quelby::serve {

class RootLookup;

// The Date header's value, formatted once per second.
class DateCache {
  public:
    const std::string& now();

  private:
    std::int64_t formatted_for_ = -1;
    std::string text_;
};

// What the sessions of one server answer from. Their handlers use it only while the server runs;
// a session destroyed later (with the io_context's pending handlers) does not touch it.
struct Site {
    ServeContext context;  // the date aside, filled in for each answer
    DateCache dates;
    RootLookup& root;
};

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(boost::asio::ip::tcp::socket socket, Site& site,
            std::shared_ptr<ConnectionTable> table);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Reads the first request.
    void start();
    // Closes the connection to make room for a new one; it leaves the table at once.
    void evict();

  private:
    using Body = boost::beast::http::span_body<const char>;

    void read_request();
    void read_head();
    void on_header(boost::beast::error_code error);
    void answer();
    void follow_root(const Framing& framing);
    void read_local_file(const ReadLocalFile& read);
    void send(const Response& response);
    void on_written(boost::beast::error_code error);
    void linger();
    void drain();
    void close();
    // The bytes read and not yet parsed.
    [[nodiscard]] std::string_view buffered() const;

    boost::beast::tcp_stream stream_;
    Site& site_;
    ConnectionTable::Seat seat_;
    bool skipped_empty_line_ = false;  // before the request being read
    // Bounded: a head larger than the parser's limit fails before the buffer grows further.
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::empty_body>> parser_;
    std::vector<Field> fields_;  // the parsed head's, for respond()
    boost::beast::http::response<Body> response_;
    std::optional<boost::beast::http::response_serializer<Body>> serializer_;
    bool close_after_ = false;  // of the response being written
    std::string loaded_;        // a local file being sent
    std::array<char, std::size_t{16} * 1024> scratch_{};
    std::size_t drained_ = 0;
};

}  // namespace quelby::serve
