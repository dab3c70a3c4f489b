// HTTP/1.x text for the tests' scripted peers, on every platform (header only: the Windows checks
// under Wine use it too): replies to send, and the parts of a request to check.
#pragma once

#include <string>
#include <string_view>

namespace quelby::test_support {

// The status line, `header_lines` (each ending in CRLF), a Content-Length unless `with_length` is
// false, the blank line and the body.
inline std::string http_reply_with(std::string_view status_line, std::string_view header_lines,
                                   std::string_view body, bool with_length = true) {
    std::string reply(status_line);
    reply += "\r\n";
    reply += header_lines;
    if (with_length) {
        reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    reply += "\r\n";
    reply += body;
    return reply;
}

// A plain-text reply that closes its connection, with `extra_headers` (each ending in CRLF).
inline std::string plain_text_reply(std::string_view status_line, std::string_view body,
                                    std::string_view extra_headers = {}, bool with_length = true) {
    std::string headers = "Content-Type: text/plain; charset=utf-8\r\nConnection: close\r\n";
    headers += extra_headers;
    return http_reply_with(status_line, headers, body, with_length);
}

// The request's Host value, or "" without one.
inline std::string host_of(const std::string& request) {
    const std::size_t start = request.find("\r\nHost: ");
    if (start == std::string::npos) {
        return "";
    }
    const std::size_t value = start + 8;
    return request.substr(value, request.find("\r\n", value) - value);
}

// The request line's target.
inline std::string path_of(const std::string& request) {
    const std::size_t start = request.find(' ') + 1;
    return request.substr(start, request.find(' ', start) - start);
}

}  // namespace quelby::test_support
