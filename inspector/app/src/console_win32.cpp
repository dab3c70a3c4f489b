// The Windows console: arguments from the wide command line, text to an interactive console as
// Unicode characters, and to pipes and files as UTF-8 bytes.
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <algorithm>
#include <limits>

#include "quelby/app/console.h"
#include "quelby/core/wide_text_win32.h"

namespace quelby::console {
namespace {

bool write_bytes(HANDLE handle, std::string_view text) {
    while (!text.empty()) {
        const auto chunk = static_cast<DWORD>(
            std::min<std::size_t>(text.size(), std::numeric_limits<DWORD>::max() / 2));
        DWORD written = 0;
        if (WriteFile(handle, text.data(), chunk, &written, nullptr) == FALSE || written == 0) {
            return false;
        }
        text.remove_prefix(written);
    }
    return true;
}

bool write_console(HANDLE handle, std::wstring_view text) {
    while (!text.empty()) {
        // Large console writes can fail on older systems; 8 K characters at a time is safe.
        auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 8192));
        // Never split a surrogate pair across two writes: each half would show as a bad glyph.
        if (chunk < text.size() && text[chunk - 1] >= 0xD800 && text[chunk - 1] <= 0xDBFF) {
            --chunk;
        }
        DWORD written = 0;
        if (WriteConsoleW(handle, text.data(), chunk, &written, nullptr) == FALSE || written == 0) {
            return false;
        }
        text.remove_prefix(written);
    }
    return true;
}

// The code page of a console would mangle UTF-8 bytes, so a console gets UTF-16 characters.
bool write_text(DWORD which, std::string_view text) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode) != FALSE) {
        return write_console(handle, utf8_to_wide(text));
    }
    return write_bytes(handle, text);
}

}  // namespace

// Windows has no SIGPIPE (a closed pipe is a failed WriteFile), and a missing standard handle is
// caught at each write, so there is nothing to prepare.
void prepare_process() {}

std::vector<std::string> collect_arguments(int /*argc*/, char** /*argv*/) {
    // The C runtime's argv is in the ANSI code page and loses characters; the wide command line,
    // split by the system's rules, does not.
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(wide_to_utf8(wide[i]));
    }
    LocalFree(static_cast<HLOCAL>(wide));
    return arguments;
}

bool write_to(Stream stream, std::string_view text) {
    return write_text(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, text);
}

}  // namespace quelby::console
