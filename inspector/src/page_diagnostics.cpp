#include "page_diagnostics.h"

#include <array>

namespace quelby {

PageDiagnostics page_diagnostics_level(const std::optional<std::string>& value) {
    if (!value || value->empty() || *value == "0") {
        return PageDiagnostics::Off;
    }
    return *value == "requests" ? PageDiagnostics::EveryRequest : PageDiagnostics::Failures;
}

std::string format_page_diagnostic(std::string_view text) {
    constexpr std::string_view CONTINUATION = "\n    ";
    constexpr std::array<char, 16> HEX = {'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    std::string line(PAGE_DIAGNOSTIC_PREFIX);
    line.reserve(line.size() + text.size() + 1);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            line += CONTINUATION;
        } else if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
            line += "\\x";
            line += HEX[byte >> 4U];
            line += HEX[byte & 0xfU];
        } else {
            line += c;
        }
    }
    line += '\n';
    return line;
}

}  // namespace quelby
