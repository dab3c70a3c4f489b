// file: URLs, as the front end names local source maps and sources, and the local paths they
// stand for.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"

namespace quelby {

// The local path of a file: URL ("file:///home/a/b%20c.js" -> "/home/a/b c.js"; on Windows
// "file:///C:/a.js" -> "C:/a.js"). The authority must be empty or "localhost"; a query or fragment
// is not part of the path. Refused: another scheme, another host, a relative path, a percent escape
// that is not two hex digits, and an escaped NUL.
Result<std::filesystem::path> path_of_file_url(std::string_view url);

// The file: URL of an absolute path, every byte outside the unreserved set and '/' escaped.
std::string file_url_of(const std::filesystem::path& path);

}  // namespace quelby
