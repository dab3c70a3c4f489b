// Secrets for one run: what only the program's own pages know.
#pragma once

#include <string>

namespace quelby {

// 128 random bits from the system's source, as 32 lower-case hex digits.
std::string random_token();

}  // namespace quelby
