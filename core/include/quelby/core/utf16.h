// UTF-16 <-> UTF-8 for the Windows seams (wide system strings in, UTF-8 everywhere inside). Kept
// portable so that the conversions are tested natively as well as under Wine.
#pragma once

#include <string>
#include <string_view>

namespace quelby {

// Whether every surrogate in `text` is part of a high-low pair (the text is valid Unicode).
bool is_well_formed_utf16(std::u16string_view text) noexcept;

// `text` as UTF-8; an unpaired surrogate becomes U+FFFD, so any wide string converts.
std::string utf16_to_utf8(std::u16string_view text);

// `text` as UTF-16; each byte that does not start a well-formed UTF-8 sequence becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

}  // namespace quelby
