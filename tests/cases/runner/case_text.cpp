#include "case_text.h"

#include <array>

namespace quelby::cases {
namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> BYTE_TOKENS = {{
    {"CRLF", "\r\n"},
    {"CR", "\r"},
    {"LF", "\n"},
    {"TAB", "\t"},
    {"NUL", std::string_view("\0", 1)},
}};

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool is_name(std::string_view text) {
    if (text.empty() || text.front() < 'a' || text.front() > 'z') {
        return false;
    }
    for (const char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
              c == ' ')) {
            return false;
        }
    }
    return true;
}

std::string expand_at_depth(std::string_view text, const Names& names, int depth) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find('<', i);
        if (open == std::string_view::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, open - i);
        const std::size_t close = text.find('>', open + 1);
        if (close == std::string_view::npos) {
            out += text.substr(open);
            break;
        }
        const std::string_view token = text.substr(open + 1, close - open - 1);
        std::string replacement;
        bool replaced = false;
        for (const auto& [name, bytes] : BYTE_TOKENS) {
            if (token == name) {
                replacement = bytes;
                replaced = true;
            }
        }
        if (!replaced && token.size() == 4 && token.starts_with("0x") && hex_digit(token[2]) >= 0 &&
            hex_digit(token[3]) >= 0) {
            replacement =
                std::string(1, static_cast<char>(hex_digit(token[2]) * 16 + hex_digit(token[3])));
            replaced = true;
        }
        if (!replaced && is_name(token) && depth < 4) {
            if (const auto named = names.find(std::string(token)); named != names.end()) {
                replacement = expand_at_depth(named->second, names, depth + 1);
                replaced = true;
            }
        }
        if (replaced) {
            out += replacement;
            i = close + 1;
        } else {
            // Not a token: keep the bracket and look again just after it.
            out += '<';
            i = open + 1;
        }
    }
    return out;
}

std::string shown_byte(unsigned char byte, bool keep_line_feed) {
    if (byte == '\n' && keep_line_feed) {
        return "\n";
    }
    std::string token;
    for (const auto& [name, bytes] : BYTE_TOKENS) {
        if (bytes.size() == 1 && static_cast<unsigned char>(bytes[0]) == byte) {
            token.append("<").append(name).append(">");
            return token;
        }
    }
    if (byte < 0x20 || byte == 0x7F) {
        constexpr std::string_view HEX = "0123456789ABCDEF";
        token.append("<0x").append(1, HEX[byte >> 4]).append(1, HEX[byte & 0xF]).append(">");
        return token;
    }
    token.assign(1, static_cast<char>(byte));
    return token;
}

}  // namespace

std::string expand(std::string_view text, const Names& names) {
    return expand_at_depth(text, names, 0);
}

std::string shown_inline(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out += shown_byte(static_cast<unsigned char>(c), false);
    }
    return out;
}

std::string shown_lines(std::string_view text, std::string_view indent) {
    if (text.empty()) {
        return std::string(indent) + "(nothing)\n";
    }
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool complete = end != std::string_view::npos;
        if (!complete) {
            end = text.size();
        }
        out += std::string(indent) + shown_inline(text.substr(start, end - start)) +
               (complete ? "\n" : " (no line feed at the end)\n");
        start = end + 1;
    }
    return out;
}

std::string shown(const Value& value) {
    std::string out;
    for (const Item& item : value) {
        if (!out.empty()) {
            out += ' ';
        }
        if (item.literal) {
            out.append("`").append(shown_inline(item.text)).append("`");
        } else {
            out.append(item.text);
        }
    }
    return out;
}

}  // namespace quelby::cases
