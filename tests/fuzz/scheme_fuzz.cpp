// The devtools scheme handler and the asset lookup: whatever the request, the answer is one
// embedded file's own bytes or the 404 constant, and the lookup agrees with a linear scan.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "quelby/assets/asset_table.h"
#include "quelby/assets/devtools_scheme.h"
#include "quelby/webview_host/host.h"

namespace {

using namespace quelby;

const AssetEntry* linear_lookup(std::string_view key) {
    const std::string normalised = normalise_asset_key(key);
    for (const AssetEntry& entry : AssetTable::entries()) {
        if (entry.path == normalised) {
            return &entry;
        }
    }
    return nullptr;
}

bool is_embedded_file(std::span<const std::uint8_t> body, std::string_view* path) {
    for (const AssetEntry& entry : AssetTable::entries()) {
        if (body.data() == entry.bytes.data() && body.size() == entry.bytes.size()) {
            *path = entry.path;
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    QUELBY_FUZZ_CHECK(AssetTable::lookup(input) == linear_lookup(input));

    // The request as the web-view host hands it over, the input as its URI.
    webview_host::Request request;
    request.method = "GET";
    request.uri = std::string(input);
    int status = 0;
    std::span<const std::uint8_t> body;
    std::string content_type;
    bool answered = false;
    devtools_scheme_handler("fuzz", request,
                            webview_host::Responder([&](webview_host::Response response) {
                                answered = true;
                                status = response.status;
                                body = response.body;
                                QUELBY_FUZZ_CHECK(response.headers.size() == 1);
                                content_type = std::string(response.headers[0].value);
                            }));
    QUELBY_FUZZ_CHECK(answered);
    const DevtoolsResponse direct = devtools_response_for_uri(input);
    QUELBY_FUZZ_CHECK(direct.status == status);
    QUELBY_FUZZ_CHECK(direct.body.data() == body.data() && direct.body.size() == body.size());
    std::string_view path;
    if (status == 200) {
        QUELBY_FUZZ_CHECK(is_embedded_file(body, &path));
        QUELBY_FUZZ_CHECK(content_type == content_type_for_path(path));
    } else {
        QUELBY_FUZZ_CHECK(status == 404);
        QUELBY_FUZZ_CHECK(!is_embedded_file(body, &path));
        // The one 404 answer, the same constant whatever was asked.
        const DevtoolsResponse missing = devtools_response_for_uri("/no such file");
        QUELBY_FUZZ_CHECK(missing.body.data() == body.data() &&
                          missing.content_type == content_type);
    }
    return 0;
}
