// Text that came from the peer, made safe to quote in a report or a console line: a reply may
// hold terminal escapes, forged lines or megabytes, and none of that may reach the terminal raw.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quelby {

// How much of a peer's text a report quotes (64 KiB); the rest is summarised by its size.
inline constexpr std::size_t QUOTE_LIMIT = std::size_t{64} * 1024;

// True for the characters that steer a terminal instead of showing: C0, DEL and C1.
constexpr bool is_control_character(char32_t c) noexcept {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// `text` as it may appear in a report: every control character becomes "<U+001B>" (the form the
// JSON parser's own messages use), except line feeds, tabs and the CR of a CR LF, which only lay
// the text out; ill-formed UTF-8 becomes U+FFFD. Past QUOTE_LIMIT bytes of `text` (cut between two
// characters) the rest is replaced by "… (N bytes in all)". Text within the limit and free of
// those characters comes back unchanged. With Layout::Escape the layout characters are escaped as
// well, for text quoted within one line.
enum class Layout { Keep, Escape };
std::string quote_peer_text(std::string_view text, Layout layout = Layout::Keep);

// The first control character of a UTF-8 `text` (line feeds and tabs included) and its byte
// offset; nullopt when there is none.
struct ControlCharacter {
    std::size_t offset = 0;
    char32_t code_point = 0;
};
std::optional<ControlCharacter> find_control_character(std::string_view text) noexcept;

// "U+001B"
std::string code_point_name(char32_t code_point);

}  // namespace quelby
