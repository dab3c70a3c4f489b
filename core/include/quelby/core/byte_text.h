// Bytes read as text and text handed on as bytes, over the same memory: embedded files and response
// bodies are bytes that are also served or compared as text.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quelby {

inline std::string_view as_text(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

inline std::span<const std::uint8_t> text_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace quelby
