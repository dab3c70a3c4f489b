#include "quelby/core/text_replace.h"

namespace quelby {

std::size_t count_occurrences(std::string_view text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t found = text.find(what); found != std::string_view::npos;
         found = text.find(what, found + what.size())) {
        ++count;
    }
    return count;
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size() + count_occurrences(text, from) * to.size());
    std::size_t start = 0;
    for (std::size_t found = text.find(from); found != std::string_view::npos;
         found = text.find(from, start)) {
        out.append(text.substr(start, found - start));
        out.append(to);
        start = found + from.size();
    }
    out.append(text.substr(start));
    return out;
}

}  // namespace quelby
