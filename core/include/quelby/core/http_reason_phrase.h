// The standard reason phrases of HTTP status codes, for the answers the program makes itself.
#pragma once

#include <string_view>

namespace quelby {

// The phrase of `status` ("Not Found" for 404); empty for a code that has none.
std::string_view http_reason_phrase(int status);

}  // namespace quelby
