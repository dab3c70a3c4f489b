#include "quelby/window/page_diagnostics.h"

#include "quelby/core/quoted_text.h"

namespace quelby {

constexpr std::string_view PAGE_DIAGNOSTIC_PREFIX = "quelby_inspector: page: ";

PageDiagnostics page_diagnostics_level(const std::optional<std::string>& value) {
    if (!value || value->empty() || *value == "0") {
        return PageDiagnostics::Off;
    }
    return *value == "requests" ? PageDiagnostics::EveryRequest : PageDiagnostics::Failures;
}

std::string format_page_diagnostic(std::string_view text) {
    constexpr std::string_view CONTINUATION = "\n    ";
    const std::string quoted = quote_peer_text(text);
    std::string line(PAGE_DIAGNOSTIC_PREFIX);
    line.reserve(line.size() + quoted.size() + 1);
    for (const char c : quoted) {
        if (c == '\n') {
            line += CONTINUATION;
        } else {
            line += c;
        }
    }
    line += '\n';
    return line;
}

}  // namespace quelby
