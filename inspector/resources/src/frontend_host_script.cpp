#include "quelby/resources/frontend_host_script.h"

#include "quelby/core/script_call.h"

namespace quelby {

std::string frontend_host_call(std::string_view configuration) {
    return script_call(FRONTEND_HOST_SCRIPT, configuration);
}

}  // namespace quelby
