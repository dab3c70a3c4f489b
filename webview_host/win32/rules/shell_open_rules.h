// What the Windows backend hands to the shell's "open" verb as an address, and what the shell's
// failures mean. No Windows types, so the rules are unit-tested natively as well as under Wine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quelby::webview_host {

// What the backend hands to the shell for `uri`.
struct ShellTarget {
    enum class Kind {
        Address,  // `text` is the URI, handed over as it is
        Folder,   // `text` is the path a file: URI names; opened only if it is a folder
        Refused,  // `text` says why
    };
    Kind kind = Kind::Refused;
    std::string text;
};

// Only an absolute URI goes to the shell (a one-letter scheme is a drive letter), and one without
// a space, double quote or control character: a URI holds none (they are percent-encoded), and one
// that did could break out of the quotes of the command line the shell builds for the scheme's
// application. Given a file, "open" runs it when it is a program or a script, so a file: URI
// becomes the path it names, in Windows' form ("C:\dir", "\\server\share\dir", percent escapes
// decoded as UTF-8), for the backend to open only when it is a folder.
ShellTarget shell_target(std::string_view uri);

// The system error code (for its text) that a failed ShellExecute result, 0 to 32, stands for:
// its codes up to 11 are system codes already, the ones above are its own.
int shell_execute_error_code(std::intptr_t result);

}  // namespace quelby::webview_host
