// quelby_asset_table_gen: build-time generator of the embedded front end's asset table.
//
//   quelby_asset_table_gen --input DIR --format elf|coff|array --cpp OUT.cpp [--asm OUT.s]
//
// Outputs are rewritten only when their text changes, so an unchanged front end rebuilds nothing.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "asset_emit.h"
#include "asset_scan.h"

namespace {

namespace fs = std::filesystem;
using quelby::asset_gen::EmbedFormat;

constexpr std::string_view USAGE =
    "usage: quelby_asset_table_gen --input DIR --format elf|coff|array --cpp OUT.cpp "
    "[--asm OUT.s]\n";

struct Options {
    fs::path input;
    EmbedFormat format = EmbedFormat::ElfIncbin;
    fs::path cpp_output;
    fs::path asm_output;
};

std::optional<Options> parse_options(int argc, char** argv) {
    Options options;
    bool have_format = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view flag = argv[i];
        const std::string_view value = argv[i + 1];
        if (flag == "--input") {
            options.input = fs::path(value);
        } else if (flag == "--cpp") {
            options.cpp_output = fs::path(value);
        } else if (flag == "--asm") {
            options.asm_output = fs::path(value);
        } else if (flag == "--format") {
            const auto format = quelby::asset_gen::parse_embed_format(value);
            if (!format) {
                return std::nullopt;
            }
            options.format = *format;
            have_format = true;
        } else {
            return std::nullopt;
        }
    }
    const bool needs_asm = options.format != EmbedFormat::CppArrays;
    if (argc % 2 == 0 || !have_format || options.input.empty() || options.cpp_output.empty() ||
        needs_asm == options.asm_output.empty()) {
        return std::nullopt;
    }
    return options;
}

bool write_if_changed(const fs::path& file, const std::string& text) {
    {
        std::ifstream in(file, std::ios::binary);
        if (in) {
            const std::string current{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
            if (current == text) {
                return true;
            }
        }
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parse_options(argc, argv);
    if (!options) {
        std::fputs(USAGE.data(), stderr);
        return 2;
    }
    std::error_code error;
    const fs::path root = fs::absolute(options->input, error);
    auto assets = quelby::asset_gen::scan_asset_directory(error ? options->input : root);
    if (!assets) {
        std::fprintf(stderr, "quelby_asset_table_gen: %s\n", assets.error().c_str());
        return 1;
    }
    if (!options->asm_output.empty() &&
        !write_if_changed(options->asm_output,
                          quelby::asset_gen::emit_assembly(*assets, options->format))) {
        std::fprintf(stderr, "quelby_asset_table_gen: cannot write %s\n",
                     options->asm_output.string().c_str());
        return 1;
    }
    if (!write_if_changed(options->cpp_output,
                          quelby::asset_gen::emit_table_source(*assets, options->format))) {
        std::fprintf(stderr, "quelby_asset_table_gen: cannot write %s\n",
                     options->cpp_output.string().c_str());
        return 1;
    }
    return 0;
}
