#include <sstream>

#define BOOST_STACKTRACE_LINK
#include <boost/stacktrace.hpp>

#include "quelby/core/stack_trace.h"

namespace quelby {

std::string capture_stack_trace() {
    // Skip this function and the error constructor that called it.
    std::ostringstream out;
    out << boost::stacktrace::stacktrace(2, static_cast<std::size_t>(-1));
    return out.str();
}

}  // namespace quelby
