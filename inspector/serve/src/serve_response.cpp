#include "quelby/serve/serve_response.h"
#include "quelby/core/byte_text.h"

#include <algorithm>
#include <utility>

#include "quelby/assets/asset_route.h"
#include "quelby/assets/asset_table.h"
#include "quelby/core/ascii_text.h"
#include "quelby/core/http_reason_phrase.h"
#include "quelby/serve/frontend_server.h"
#include "quelby/serve/serve_rules.h"
#include "serve_host_routes.h"

namespace quelby::serve {
namespace {

// The files never change while the program runs, but another build of the program may serve other
// files under the same names at the same address: browsers revalidate (cheaply, by ETag) rather
// than trusting a cached copy across program versions.
constexpr std::string_view FILE_CACHE_CONTROL = "no-cache";
// What is made for this run or this request: no cache may keep it.
constexpr std::string_view UNCACHED = "no-store";

constexpr std::string_view HTML_CONTENT_TYPE = "text/html; charset=utf-8";
constexpr std::string_view SCRIPT_CONTENT_TYPE = "text/javascript; charset=utf-8";
constexpr std::string_view LOADED_CONTENT_TYPE = "text/plain; charset=utf-8";

constexpr int OK = 200;
constexpr int FOUND = 302;
constexpr int NOT_MODIFIED = 304;
constexpr int BAD_REQUEST = 400;
constexpr int FORBIDDEN = 403;
constexpr int NOT_FOUND = 404;
constexpr int METHOD_NOT_ALLOWED = 405;
constexpr int PAYLOAD_TOO_LARGE = 413;
constexpr int URI_TOO_LONG = 414;
constexpr int HEADER_FIELDS_TOO_LARGE = 431;

// A refusal's body.
std::string_view reason_text(int status) {
    if (status == NOT_FOUND) {
        return as_text(NOT_FOUND_BODY);  // the scheme handler's 404 body
    }
    return http_reason_phrase(status);
}

// The value of the first field named `name` (letter case aside), or nullopt.
std::optional<std::string_view> field_value(const RequestHead& request, std::string_view name) {
    const auto found = std::ranges::find_if(request.fields, [name](const Field& field) {
        return equals_ignoring_ascii_case(field.name, name);
    });
    return found == request.fields.end() ? std::nullopt : std::optional(found->value);
}

std::size_t field_count(const RequestHead& request, std::string_view name) {
    return static_cast<std::size_t>(std::ranges::count_if(
        request.fields,
        [name](const Field& field) { return equals_ignoring_ascii_case(field.name, name); }));
}

// The head every answer starts with. The Connection field says what the framing decided, as
// Beast's keep_alive() writes it: "close" ends an HTTP/1.1 connection, "keep-alive" keeps an
// HTTP/1.0 one.
Response start_response(int status, const Framing& framing, std::string_view date) {
    Response response;
    response.status = status;
    response.framing = framing;
    response.headers = {{"Date", date}, {"X-Content-Type-Options", "nosniff"}};
    if (framing.version >= 11 && framing.close_after) {
        response.headers.push_back({"Connection", "close"});
    } else if (framing.version < 11 && !framing.close_after) {
        response.headers.push_back({"Connection", "keep-alive"});
    }
    return response;
}

// A plain-text refusal whose body is its reason phrase; it ends the connection unless it is a 404
// or a 403 (to a request that did not end it already).
Response error_response(int status, Framing framing, std::string_view date) {
    if (status != NOT_FOUND && status != FORBIDDEN) {
        framing.close_after = true;
    }
    Response response = start_response(status, framing, date);
    if (status == METHOD_NOT_ALLOWED) {
        response.headers.push_back({"Allow", "GET, HEAD"});
    }
    response.headers.push_back({"Content-Type", NOT_FOUND_CONTENT_TYPE});
    response.body = reason_text(status);
    response.content_length = response.body.size();
    return response;
}

// Ends a started answer with a body that no cache may keep.
Response with_uncached_body(Response response, std::string_view body,
                            std::string_view content_type) {
    response.headers.push_back({"Content-Type", content_type});
    response.headers.push_back({"Cache-Control", UNCACHED});
    response.body = body;
    response.content_length = body.size();
    return response;
}

// The refusal of a Host value (or an absolute target's authority); nullopt when it is allowed.
std::optional<int> host_refusal(std::string_view host, std::string_view bound_name) {
    switch (check_host(host, bound_name)) {
        case HostVerdict::Allowed:
            return std::nullopt;
        case HostVerdict::Forbidden:
            return FORBIDDEN;
        case HostVerdict::Malformed:
            break;
    }
    return BAD_REQUEST;
}

// An embedded file, or 304 when the client's copy is current. If-None-Match decides when present;
// If-Modified-Since only counts without it.
Response file_response(const RequestHead& request, const AssetEntry& entry,
                       std::string_view content_type, const Framing& framing,
                       const ServeContext& context) {
    const std::string& etag = context.validators.etag(entry);
    bool not_modified = false;
    if (const auto match = field_value(request, "If-None-Match")) {
        not_modified = if_none_match_matches(*match, etag);
    } else if (const auto since = field_value(request, "If-Modified-Since")) {
        const auto since_seconds = parse_http_date(*since);
        const auto modified = context.validators.last_modified_seconds(entry);
        not_modified = since_seconds && modified && *modified <= *since_seconds;
    }

    Response response = start_response(not_modified ? NOT_MODIFIED : OK, framing, context.date);
    response.headers.push_back({"ETag", etag});
    if (const auto& last_modified = context.validators.last_modified(entry)) {
        response.headers.push_back({"Last-Modified", *last_modified});
    }
    response.headers.push_back({"Cache-Control", FILE_CACHE_CONTROL});
    if (!not_modified) {
        response.headers.push_back({"Content-Type", content_type});
        response.body = as_text(entry.bytes);
        response.content_length = entry.bytes.size();
    }
    return response;
}

// A local file for the page's embedder: only with the run's secret, only file: URLs.
Decision local_file_decision(std::string_view target, const Framing& framing,
                             const ServeContext& context) {
    const auto given = query_parameter(target, SECRET_PARAMETER);
    if (!given || !same_secret(*given, context.secret)) {
        return error_response(FORBIDDEN, framing, context.date);
    }
    auto url = query_parameter(target, "url");
    if (!url || !url->starts_with("file:")) {
        return error_response(BAD_REQUEST, framing, context.date);
    }
    return ReadLocalFile{.url = std::move(*url), .framing = framing};
}

// Whether a head over the limit broke off inside its request target: the request line has not
// ended, and nothing but the target follows its first blank.
bool target_overflowed(std::string_view unparsed) {
    if (unparsed.find('\n') != std::string_view::npos) {
        return false;
    }
    const std::size_t blank = unparsed.find(' ');
    return blank != std::string_view::npos &&
           unparsed.find(' ', blank + 1) == std::string_view::npos;
}

}  // namespace

FileValidators::FileValidators() {
    for (const AssetEntry& entry : AssetTable::entries()) {
        etags_.push_back(entity_tag(entry.sha256));
        last_modified_seconds_.push_back(entry.last_modified);
        last_modified_.push_back(
            entry.last_modified ? std::optional(http_date(*entry.last_modified)) : std::nullopt);
    }
}

std::size_t FileValidators::index_of(const AssetEntry& entry) {
    return static_cast<std::size_t>(&entry - AssetTable::entries().data());
}

const std::string& FileValidators::etag(const AssetEntry& entry) const {
    return etags_[index_of(entry)];
}

const std::optional<std::string>& FileValidators::last_modified(const AssetEntry& entry) const {
    return last_modified_[index_of(entry)];
}

std::optional<std::uint64_t> FileValidators::last_modified_seconds(const AssetEntry& entry) const {
    return last_modified_seconds_[index_of(entry)];
}

Decision respond(const RequestHead& request, const ServeContext& context) {
    const bool has_body =
        request.chunked || (request.content_length && *request.content_length > 0);
    const Framing framing{
        .version = request.version == 10 ? 10U : 11U,
        // Known before any answer, refusals included: a HEAD is answered without a body whatever
        // its answer, or the next reply on the connection would start inside that body.
        .head_only = request.method == "HEAD",
        // A body is never read, so the connection cannot carry another request after it.
        .close_after = !request.keep_alive || has_body,
    };
    const std::string_view date = context.date;

    // A body whose framing is not chunked has no length this server can read (RFC 9112 6.3):
    // what follows could be taken for another request, so the connection ends here.
    if (field_value(request, "Transfer-Encoding") && !request.chunked) {
        Framing ending = framing;
        ending.close_after = true;
        return error_response(BAD_REQUEST, ending, date);
    }
    if (field_count(request, "Host") != 1) {
        return error_response(BAD_REQUEST, framing, date);
    }
    if (const auto refusal = host_refusal(*field_value(request, "Host"), context.bound_name)) {
        return error_response(*refusal, framing, date);
    }
    // A target in absolute form names its host as well, and that name is the one the request is
    // for: a foreign name there must not pass behind an allowed Host.
    if (const auto authority = target_authority(request.target)) {
        if (const auto refusal = host_refusal(*authority, context.bound_name)) {
            return error_response(*refusal, framing, date);
        }
    }
    if (request.fields.size() > SERVE_MAX_FIELDS) {
        return error_response(HEADER_FIELDS_TOO_LARGE, framing, date);
    }
    if (request.method != "GET" && request.method != "HEAD") {
        return error_response(METHOD_NOT_ALLOWED, framing, date);
    }

    const std::string_view path = target_path(request.target);
    if (path == SERVED_START_PATH) {
        return with_uncached_body(start_response(OK, framing, date), context.start_page,
                                  HTML_CONTENT_TYPE);
    }
    if (path == HOST_SCRIPT_PATH) {
        return with_uncached_body(start_response(OK, framing, date), context.host_script,
                                  SCRIPT_CONTENT_TYPE);
    }
    if (path == HOST_FILE_PATH) {
        return local_file_decision(request.target, framing, context);
    }

    const AssetRoute route = route_asset_uri(request.target);
    if (route.default_document) {
        if (context.root_location) {
            return redirect_response(framing, *context.root_location, date);
        }
        return FollowRoot{framing};
    }
    if (route.entry == nullptr) {
        return error_response(NOT_FOUND, framing, date);
    }
    return file_response(request, *route.entry, route.content_type, framing, context);
}

Response redirect_response(const Framing& framing, std::string_view location,
                           std::string_view date) {
    Response response = start_response(FOUND, framing, date);
    response.headers.push_back({"Location", location});
    response.headers.push_back({"Cache-Control", UNCACHED});
    response.content_length = 0;
    return response;
}

Response local_file_response(const Framing& framing, std::string_view text, std::string_view date) {
    return with_uncached_body(start_response(OK, framing, date), text, LOADED_CONTENT_TYPE);
}

Response local_file_error_response(const Framing& framing, int status, std::string_view net_error,
                                   std::string_view date) {
    Response response = start_response(status, framing, date);
    response.headers.push_back({"X-Net-Error", net_error});
    return with_uncached_body(std::move(response), net_error, LOADED_CONTENT_TYPE);
}

Response refuse(UnreadableHead why, std::string_view unparsed, std::string_view date) {
    // Nothing is known of the request: HTTP/1.1, a body for every method, and the end.
    const Framing framing{.version = 11, .head_only = false, .close_after = true};
    switch (why) {
        case UnreadableHead::TooLarge:
            return error_response(
                target_overflowed(unparsed) ? URI_TOO_LONG : HEADER_FIELDS_TOO_LARGE, framing,
                date);
        case UnreadableHead::BodyTooLarge:
            return error_response(PAYLOAD_TOO_LARGE, framing, date);
        case UnreadableHead::Malformed:
            break;
    }
    return error_response(BAD_REQUEST, framing, date);
}

}  // namespace quelby::serve
