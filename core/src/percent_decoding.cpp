#include "percent_decoding.h"

namespace quelby {

std::optional<std::string> percent_decoded(std::string_view text, PlusSign plus) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+' && plus == PlusSign::Space) {
            out.push_back(' ');
            continue;
        }
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        const int high = i + 1 < text.size() ? ascii_hex_value(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? ascii_hex_value(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

}  // namespace quelby
