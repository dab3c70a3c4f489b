// UTF-8 validation and lossy repair, shared by the reply check, the environment and the arguments.
#pragma once

#include <string>
#include <string_view>

namespace quelby {

// True when `text` is well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequence.
bool is_valid_utf8(std::string_view text) noexcept;

// `text` with every ill-formed sequence replaced by U+FFFD (one per maximal invalid subpart, as
// Unicode recommends); valid text comes back unchanged.
std::string to_utf8_lossy(std::string_view text);

}  // namespace quelby
