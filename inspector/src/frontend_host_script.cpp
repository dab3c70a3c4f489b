#include "frontend_host_script.h"

namespace quelby {

std::string frontend_host_call(std::string_view configuration) {
    std::string_view script = FRONTEND_HOST_SCRIPT;
    // The file ends in a line break; the call follows the expression itself.
    while (!script.empty() && (script.back() == '\n' || script.back() == ' ')) {
        script.remove_suffix(1);
    }
    std::string call(script);
    call += '(';
    call += configuration;
    call += ");\n";
    return call;
}

}  // namespace quelby
