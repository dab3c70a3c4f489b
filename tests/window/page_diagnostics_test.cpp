#include "quelby/window/page_diagnostics.h"

#include <gtest/gtest.h>

namespace quelby {
namespace {

using namespace std::string_literals;

TEST(PageDiagnostics, SwitchIsOnForAnyNonEmptyValueButZero) {
    EXPECT_EQ(page_diagnostics_level(std::nullopt), PageDiagnostics::Off);
    EXPECT_EQ(page_diagnostics_level(""), PageDiagnostics::Off);
    EXPECT_EQ(page_diagnostics_level("0"), PageDiagnostics::Off);
    EXPECT_EQ(page_diagnostics_level("1"), PageDiagnostics::Failures);
    EXPECT_EQ(page_diagnostics_level("00"), PageDiagnostics::Failures);
    EXPECT_EQ(page_diagnostics_level("requests"), PageDiagnostics::EveryRequest);
}

TEST(PageDiagnostics, PageTextCannotForgeOrGarbleTheProgramsLines) {
    EXPECT_EQ(format_page_diagnostic("not found: devtools://localhost/x.js"),
              "quelby_inspector: page: not found: devtools://localhost/x.js\n");
    // Further lines (a stack) are indented under the first; a forged line of ours stays inside.
    EXPECT_EQ(
        format_page_diagnostic("uncaught Error: x\nf@a.js:1:2\nquelby_inspector: devtools   = "
                               "http://evil/"),
        "quelby_inspector: page: uncaught Error: x\n    f@a.js:1:2\n    quelby_inspector: "
        "devtools   = http://evil/\n");
    // Terminal controls (C1 too) and NUL are written out, tabs and UTF-8 text kept, and text that
    // is no UTF-8 cannot start a sequence the terminal would take for a control.
    EXPECT_EQ(format_page_diagnostic("a\x1b]0;t\x07\x1b[2J\r\0\x7f\tb \xe2\x80\x94 \xc2\x9b"
                                     "1m \xc2"s),
              "quelby_inspector: page: a<U+001B>]0;t<U+0007><U+001B>[2J<U+000D><U+0000><U+007F>\tb "
              "\xe2\x80\x94 <U+009B>1m \xef\xbf\xbd\n");
    // A page that logs megabytes writes a bounded line.
    EXPECT_LT(format_page_diagnostic(std::string(std::size_t{4} << 20, 'x')).size(),
              std::size_t{65} * 1024);
    EXPECT_EQ(format_page_diagnostic(""), "quelby_inspector: page: \n");
}

}  // namespace
}  // namespace quelby
