// The text of a case: tokens expanded as the case is run, and bytes shown back in the same tokens
// when a case fails, so that a stray CR or escape character is visible in the report.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "case_file.h"

namespace quelby::cases {

// What <name> stands for: the blocks the file names, and the run's own values (<address>, ...).
using Names = std::map<std::string, std::string>;

// `text` with <CR>, <LF>, <CRLF>, <TAB>, <NUL>, <0xHH> and <name> (a name in `names`) replaced; any
// other text between angle brackets is kept as it is (a report's "<U+001B>", a usage line's
// "<inspector-http-addr ...>").
std::string expand(std::string_view text, const Names& names);

// One line for a report: line feeds and other control bytes as tokens.
std::string shown_inline(std::string_view text);
// Several lines for a report, each after `indent`: control bytes but the line feeds as tokens, and
// a note when the last line has no line feed.
std::string shown_lines(std::string_view text, std::string_view indent);
// An expanded value in the case file's own notation: `literal` items (bytes as tokens) and bare
// words.
std::string shown(const Value& value);

}  // namespace quelby::cases
