// A read-only IStream over bytes that live as long as the process (the embedded front end). The
// runtime reads response bodies through it; unlike SHCreateMemStream it does not copy them.
#pragma once

#include <windows.h>
// objidl.h needs windows.h first.
#include <objidl.h>

#include <cstdint>
#include <span>

namespace quelby::webview_host {

// A new stream with one reference, positioned at the start of `bytes`.
IStream* make_span_stream(std::span<const std::uint8_t> bytes);

}  // namespace quelby::webview_host
