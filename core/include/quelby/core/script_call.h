// Page scripts that take arguments are kept as one function expression in a .js file; the program
// calls that expression with arguments it writes as JavaScript expressions.
#pragma once

#include <string>
#include <string_view>

namespace quelby {

// `function(arguments);` where `function` is the text of such a file (its trailing line breaks
// and spaces are dropped, so that the call follows the expression itself).
inline std::string script_call(std::string_view function, std::string_view arguments) {
    while (!function.empty() && (function.back() == '\n' || function.back() == ' ')) {
        function.remove_suffix(1);
    }
    std::string call(function);
    call += '(';
    call += arguments;
    call += ");\n";
    return call;
}

}  // namespace quelby
