// Turns scanned front-end files into the sources of the asset table.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "asset_scan.h"

namespace quelby::asset_gen {

// How the file contents get into the program. The assembler forms let the assembler copy each
// file with .incbin (fast to build, plain read-only data); the array form is the fallback for
// compilers without GNU assembler syntax and spells every byte out in C++.
enum class EmbedFormat { ElfIncbin, CoffIncbin, CppArrays };

// "elf", "coff" or "array".
std::optional<EmbedFormat> parse_embed_format(std::string_view name);

// The assembler source holding the contents; empty for EmbedFormat::CppArrays. Each file's
// digest is written beside it, so the text changes whenever a content does and the assembler,
// which does not track .incbin inputs, reruns.
std::string emit_assembly(std::span<const ScannedAsset> assets, EmbedFormat format);

// The C++ source that defines AssetTable::entries() over the contents.
std::string emit_table_source(std::span<const ScannedAsset> assets, EmbedFormat format);

// A double-quoted C++ literal of `bytes`: printable ASCII as it is, everything else escaped.
std::string cpp_string_literal(std::string_view bytes);

// A double-quoted GNU assembler string of `bytes`.
std::string assembler_string_literal(std::string_view bytes);

}  // namespace quelby::asset_gen
