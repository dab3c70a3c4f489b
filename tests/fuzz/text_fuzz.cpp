// UTF-8 validation and repair, the UTF-16 conversions, quoting of peer text and the front-end
// template, each compared with an independent model.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "quelby/assets/frontend_url.h"
#include "quelby/core/quoted_text.h"
#include "quelby/core/utf16.h"
#include "quelby/core/utf8.h"
#include "reference_utf8.h"

namespace {

using namespace quelby;
using fuzz::append_utf8;
using fuzz::decode_at;

void check_utf8(std::string_view text) {
    QUELBY_FUZZ_CHECK(is_valid_utf8(text) == fuzz::reference_valid(text));

    std::string lossy;
    std::u16string wide;
    for (std::size_t pos = 0; pos < text.size();) {
        const fuzz::Decoded decoded = decode_at(text, pos);
        const Utf8Sequence sequence = next_utf8_sequence(text, pos);
        QUELBY_FUZZ_CHECK(sequence.length == decoded.length);
        if (decoded.length == 0) {
            QUELBY_FUZZ_CHECK(sequence.valid_prefix == fuzz::maximal_subpart(text, pos));
            lossy += "\xEF\xBF\xBD";
            pos += fuzz::maximal_subpart(text, pos);
        } else {
            QUELBY_FUZZ_CHECK(sequence.code_point == decoded.value);
            lossy.append(text.substr(pos, decoded.length));
            pos += decoded.length;
        }
    }
    QUELBY_FUZZ_CHECK(to_utf8_lossy(text) == lossy);

    // To UTF-16 every byte that starts no well-formed sequence is one U+FFFD.
    for (std::size_t pos = 0; pos < text.size();) {
        const fuzz::Decoded decoded = decode_at(text, pos);
        const char32_t c = decoded.length == 0 ? 0xFFFD : decoded.value;
        if (c >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<char16_t>(c);
        }
        pos += decoded.length == 0 ? 1 : decoded.length;
    }
    QUELBY_FUZZ_CHECK(utf8_to_utf16(text) == wide);
    if (is_valid_utf8(text)) {
        QUELBY_FUZZ_CHECK(utf16_to_utf8(wide) == text);
    }
}

void check_utf16(std::string_view bytes) {
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        wide += static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                      (static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    }
    std::string expected;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char32_t unit = wide[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            append_utf8(expected, 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
            ++i;
        } else {
            append_utf8(expected, high || low ? 0xFFFD : unit);
        }
    }
    QUELBY_FUZZ_CHECK(utf16_to_utf8(wide) == expected);
}

void check_quote(std::string_view text) {
    for (const Layout layout : {Layout::Keep, Layout::Escape}) {
        const std::string quoted = quote_peer_text(text, layout);
        QUELBY_FUZZ_CHECK(fuzz::fit_for_terminal(quoted, layout == Layout::Keep));
        QUELBY_FUZZ_CHECK(quoted.size() <= 8 * (QUOTE_LIMIT + 4) + 64);
        if (text.size() <= QUOTE_LIMIT && fuzz::fit_for_terminal(text, layout == Layout::Keep)) {
            QUELBY_FUZZ_CHECK(quoted == text);
        }
    }
}

// The input split at its first NUL: target before, template after (none: the default address).
void check_template(std::string_view input) {
    const std::size_t nul = input.find('\0');
    const std::string_view target = input.substr(0, nul);
    std::optional<std::string> tmpl;
    if (nul != std::string_view::npos) {
        tmpl = std::string(input.substr(nul + 1));
    }
    // The model: plain left-to-right replacement, its size counted before anything is built.
    std::string expected;
    std::size_t expected_size = 0;
    if (!tmpl) {
        expected_size = 41 + target.size() + 29;
    } else {
        for (std::size_t i = 0; i < tmpl->size();) {
            if (tmpl->compare(i, 4, "{ws}") == 0) {
                expected_size += target.size();
                i += 4;
            } else {
                ++expected_size;
                ++i;
            }
        }
    }
    const auto url = frontend_url_from({std::string(target), false}, tmpl);
    if (expected_size > FRONTEND_URL_LIMIT) {
        QUELBY_FUZZ_CHECK(!url.has_value());
        return;
    }
    QUELBY_FUZZ_CHECK(url.has_value());
    if (!tmpl) {
        expected = "http://devtools.localhost/js_app.html?ws=" + std::string(target) +
                   "&experiments=true&v8only=true";
    } else {
        for (std::size_t i = 0; i < tmpl->size();) {
            if (tmpl->compare(i, 4, "{ws}") == 0) {
                expected += target;
                i += 4;
            } else {
                expected += (*tmpl)[i];
                ++i;
            }
        }
    }
    QUELBY_FUZZ_CHECK(expected.size() == expected_size);
    QUELBY_FUZZ_CHECK(*url == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    check_utf8(input);
    check_utf16(input);
    check_quote(input);
    check_template(input);
    return 0;
}
