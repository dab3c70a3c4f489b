// Replacing every occurrence of a text: found from left to right without overlap, and the inserted
// text is never searched again.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quelby {

// How many times `what` (not empty) occurs in `text`, counted as replace_all finds them.
std::size_t count_occurrences(std::string_view text, std::string_view what);

// `text` with every occurrence of `from` (not empty) replaced by `to`.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

}  // namespace quelby
