#include "inspector_window.h"

namespace quelby {

// Placeholder until the web-view host exists: an honest failure, never a fake success.
Status run_inspector_window(const std::string& /*frontend_url*/) {
    return std::unexpected(ErrorChain::from_message("the inspector window is not available on this build")
                               .with_context("failed to create inspector window"));
}

}  // namespace quelby
