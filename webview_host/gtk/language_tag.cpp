#include "language_tag.h"

#include <algorithm>
#include <cstdlib>

#include "quelby/core/ascii_text.h"

namespace quelby::webview_host::gtk {

namespace {

bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}

bool all_of(std::string_view text, bool (*predicate)(char)) {
    return std::all_of(text.begin(), text.end(), predicate);
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string language_tag_for_locale(std::string_view locale) {
    // The codeset and the modifier say nothing a language tag can carry.
    locale = locale.substr(0, locale.find_first_of(".@"));
    const std::size_t separator = locale.find('_');
    const std::string_view language = locale.substr(0, separator);
    const std::string_view territory =
        separator == std::string_view::npos ? std::string_view() : locale.substr(separator + 1);

    // "C" and "POSIX" fail here too: one letter, and five.
    const bool language_ok =
        (language.size() == 2 || language.size() == 3) && all_of(language, is_ascii_letter);
    const bool territory_ok = separator == std::string_view::npos ||
                              (territory.size() == 2 && all_of(territory, is_ascii_letter)) ||
                              (territory.size() == 3 && all_of(territory, is_ascii_digit));
    if (!language_ok || !territory_ok) {
        return std::string(FALLBACK_LANGUAGE_TAG);
    }

    std::string tag;
    std::transform(language.begin(), language.end(), std::back_inserter(tag), ascii_lower);
    if (!territory.empty()) {
        tag.push_back('-');
        std::transform(territory.begin(), territory.end(), std::back_inserter(tag), upper);
    }
    return tag;
}

std::string user_interface_locale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

}  // namespace quelby::webview_host::gtk
