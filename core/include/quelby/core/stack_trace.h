// Captures the calling thread's stack as text; one backend per platform.
#pragma once

#include <string>

namespace quelby {

// The frames above the caller, one per line. Empty when the platform cannot provide them.
std::string capture_stack_trace();

}  // namespace quelby
