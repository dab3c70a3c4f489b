// The NODE_OPTIONS that make every node process of a command load the bootloader first.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quelby::launch {

// `existing` (the user's own NODE_OPTIONS, kept in front) followed by a --require of `script`,
// quoted the way node reads NODE_OPTIONS: in double quotes, with '"' and '\' escaped by a
// backslash, so that a path with blanks or quotes stays one argument.
std::string node_options_with_require(const std::optional<std::string>& existing,
                                      std::string_view script);

}  // namespace quelby::launch
