// The console seam: arguments in, lines out, the report. One backend per platform
// (console_posix.cpp; console_win32.cpp over the wide-character command line and console).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quelby::console {

// Makes the process safe for its console work; called first thing in main. POSIX: SIGPIPE is
// ignored (a closed pipe becomes a write error instead of death), and a standard descriptor that
// is closed is reopened on /dev/null so that no socket can take its number (writes to it then
// count as failed).
void prepare_process();

// The command-line arguments without the program's name, as UTF-8 text. POSIX takes argv; bytes
// that are not valid UTF-8 become U+FFFD, so the program never handles invalid text. (Windows
// ignores argc/argv and splits the wide command line by the platform's rules.)
std::vector<std::string> collect_arguments(int argc, char** argv);

// Writes `line` and a line feed to standard output as one unit, at once (line-buffered). Returns
// false when standard output cannot be written (closed pipe, closed descriptor, full disk); the
// caller may ignore that. Never blocks on anything but the write itself and never raises SIGPIPE.
bool write_line(std::string_view line);

// Writes the error report to standard error as one unit; failures are ignored.
void write_report(std::string_view report);

enum class Stream { Output, Error };

// The platform's write of `text` to standard output or standard error, whole; false when the
// stream cannot be written.
bool write_to(Stream stream, std::string_view text);

}  // namespace quelby::console
