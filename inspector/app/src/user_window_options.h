// The window options the user's environment asks for: page diagnostics to standard error, and the
// settings file in the user's configuration folder.
#pragma once

#include "quelby/window/inspector_window.h"

namespace quelby {

WindowOptions user_window_options();

}  // namespace quelby
