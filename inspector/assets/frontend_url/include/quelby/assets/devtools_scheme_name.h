// The private scheme's name, which both the front-end address and the scheme's registration use.
#pragma once

#include <string_view>

namespace quelby {

// Pages reach the scheme as http://devtools.localhost/.
inline constexpr std::string_view DEVTOOLS_SCHEME_NAME = "devtools";

}  // namespace quelby
