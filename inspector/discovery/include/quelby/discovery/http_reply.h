// The hand-built HTTP/1.0 exchange with the inspector as plain text operations: the request's
// pieces, when a reply is complete, and the check of a complete reply. No sockets here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"

namespace quelby::http {

inline constexpr std::string_view NOT_UTF8 = "stream did not contain valid UTF-8";
inline constexpr std::string_view NON_200_PREFIX = "inspector returned non-200: ";

// HTTP/1.0 is the request's version; HTTP/1.1 is the second try for a peer that closes on 1.0
// without a word (Chromium's inspector does).
enum class Version : std::uint8_t { Http10, Http11 };

// The request template "GET {path} HTTP/1.0\r\nHost: {host}\r\nAccept: application/json\r\n
// Connection: close\r\n\r\n" as the pieces written in order. The views refer to `path`, `host` and
// constants; keep both alive while the pieces are used.
std::array<std::string_view, 5> request_pieces(std::string_view path, std::string_view host,
                                               Version version = Version::Http10);

struct SplitReply {
    std::string_view head;
    std::string_view body;
};
// Split at the first "\r\n\r\n"; the four bytes belong to neither part. nullopt when absent.
std::optional<SplitReply> split_reply(std::string_view reply);

// The head's first line, with one CR that ends it removed; the empty text for an empty head.
std::string_view status_line(std::string_view head);

// The status code of a status line "HTTP/x.y NNN ...": three digits after the first blank;
// nullopt when the line has no such code.
std::optional<int> status_code(std::string_view status_line);

// The reply is accepted iff its status line contains "200" anywhere.
bool status_line_accepted(std::string_view status_line);

// The body length the head declares with Content-Length, when it is usable: present, digits
// only (surrounding blanks allowed), every Content-Length line agreeing, and no
// Transfer-Encoding. nullopt otherwise. Names are compared without regard to case.
std::optional<std::size_t> declared_content_length(std::string_view head);

// Tells, as bytes arrive, whether the reply is complete before the peer closes: once the head is
// whole and declares a usable Content-Length, when that many body bytes have arrived. Without a
// usable length the reply is complete only at the end of the stream.
class ReplyProgress {
  public:
    // `reply` is everything received so far (it only ever grows). True when reading may stop.
    bool complete(std::string_view reply);

  private:
    std::size_t scanned_ = 0;  // bytes searched for the blank line ending the head so far
    std::optional<std::size_t> body_start_;
    std::optional<std::size_t> expected_size_;
};

// The reply checked: valid UTF-8, a head and a body, a status line containing "200". The body on
// success. A refused
// status line is quoted with its control characters escaped.
Result<std::string> check_reply(std::string_view reply);

}  // namespace quelby::http
