// http: and https: loads are not built for Windows yet: the front end is told so, in its own
// terms, instead of waiting.
#include "resource_load.h"

namespace quelby {

LoadOutcome load_http_resource(std::string_view /*url*/, std::string_view /*request_headers*/,
                               const LoadLimits& /*limits*/, const ChunkSink& /*sink*/,
                               std::stop_token /*stop*/) {
    constexpr int NOT_IMPLEMENTED = 501;
    return failed_load(NOT_IMPLEMENTED, -11, "net::ERR_NOT_IMPLEMENTED");
}

}  // namespace quelby
