// The web view's language, from the user's POSIX locale. The front end hands navigator.language to
// Intl, which throws on a tag such as "C" and leaves the window blank, so only a well-formed tag
// ever leaves here.
#pragma once

#include <string>
#include <string_view>

namespace quelby::webview_host::gtk {

inline constexpr std::string_view FALLBACK_LANGUAGE_TAG = "en-US";

// "de_DE.UTF-8" -> "de-DE", "pt_BR@x" -> "pt-BR", "fr" -> "fr"; "C", "POSIX", "" and anything that
// does not read as language[_TERRITORY][.codeset][@modifier] -> FALLBACK_LANGUAGE_TAG.
std::string language_tag_for_locale(std::string_view locale);

// The locale that names the user's interface language: the first non-empty of LC_ALL, LC_MESSAGES
// and LANG, as the C library would choose it; empty when none is set.
std::string user_interface_locale();

}  // namespace quelby::webview_host::gtk
