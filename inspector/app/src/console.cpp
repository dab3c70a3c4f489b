#include "quelby/app/console.h"

namespace quelby::console {

bool write_line(std::string_view line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line);
    text.push_back('\n');
    return write_to(Stream::Output, text);
}

void write_report(std::string_view report) {
    static_cast<void>(write_to(Stream::Error, report));
}

}  // namespace quelby::console
