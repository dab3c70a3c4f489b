// The --serve server's answer to one request, decided from the request's head alone: no sockets,
// no clock, no files. The session reads a head, calls respond() and sends what it says. Two
// answers need I/O first: where "/" leads when a lookup finds it (FollowRoot, finished by
// redirect_response) and a local file for the embedder (ReadLocalFile, finished by
// local_file_response or local_file_error_response).
//
// Every view in a Response points into the request's context, the asset table or constants, or
// into what the finishing call was given: it is valid as long as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quelby {
struct AssetEntry;
}

namespace quelby::serve {

// A header field of a request or a response.
struct Field {
    std::string_view name;
    std::string_view value;
};

// A request head as the HTTP parser read it.
struct RequestHead {
    std::string_view method;  // as sent ("GET", "HEAD", "BREW")
    std::string_view target;  // as sent: "/path?query", or in absolute form "http://host/path"
    unsigned version = 11;    // 10 for HTTP/1.0, 11 for HTTP/1.1
    std::span<const Field> fields;  // all of them, in order, repeated names included
    // What the parser made of the head beside its fields: whether the client wants the
    // connection kept (its version and Connection field), whether its Transfer-Encoding ends in
    // chunked, and its Content-Length.
    bool keep_alive = true;
    bool chunked = false;
    std::optional<std::uint64_t> content_length;
};

// The validators of the embedded files, computed once from the asset table: the entity tag (the
// quoted SHA-256) and the Last-Modified date of each.
class FileValidators {
  public:
    FileValidators();

    [[nodiscard]] const std::string& etag(const AssetEntry& entry) const;
    [[nodiscard]] const std::optional<std::string>& last_modified(const AssetEntry& entry) const;
    [[nodiscard]] std::optional<std::uint64_t> last_modified_seconds(const AssetEntry& entry) const;

  private:
    // `entry` must be one of the table's.
    [[nodiscard]] static std::size_t index_of(const AssetEntry& entry);

    std::vector<std::string> etags_;
    std::vector<std::optional<std::string>> last_modified_;
    std::vector<std::optional<std::uint64_t>> last_modified_seconds_;
};

// What the answers of one server are made from, beside the request.
struct ServeContext {
    // The host name the server was bound under (Host values may name it); empty for an address.
    std::string_view bound_name;
    const FileValidators& validators;
    // The run's secret, without which no local file is served.
    std::string_view secret;
    // The page at SERVED_START_PATH and the script at HOST_SCRIPT_PATH.
    std::string_view start_page;
    std::string_view host_script;
    // Where "/" leads when that is known without a lookup; nullopt makes "/" a FollowRoot.
    std::optional<std::string_view> root_location;
    // The answer's Date value, an HTTP date.
    std::string_view date;
};

// What a request decides about any answer to it.
struct Framing {
    unsigned version = 11;     // 10 or 11, as the request's
    bool head_only = false;    // HEAD: the head alone is sent, whatever the answer
    bool close_after = false;  // the connection ends after this answer
};

// One answer, as it is to be sent.
struct Response {
    int status = 200;
    Framing framing;
    // Every field but Content-Length, in the order sent.
    std::vector<Field> headers;
    // Sent last of the fields when set (a HEAD's included: it is the length a GET would get).
    std::optional<std::uint64_t> content_length;
    // Sent after the head unless framing.head_only.
    std::string_view body;
};

// "/" with a lookup: the answer is redirect_response to where the next lookup says "/" leads.
struct FollowRoot {
    Framing framing;
};

// A local file the embedder asked for with the run's secret: `url` (a file: URL) is read, then
// answered with local_file_response or local_file_error_response.
struct ReadLocalFile {
    std::string url;
    Framing framing;
};

using Decision = std::variant<Response, FollowRoot, ReadLocalFile>;

// The answer to a parsed request head. Refusals are plain-text answers whose body is the reason
// phrase (404's is the scheme handler's "Not Found"); a 403 or 404 keeps a connection the client
// wants kept, every other refusal ends it.
Decision respond(const RequestHead& request, const ServeContext& context);

// The 302 from "/" to `location`, not to be cached.
Response redirect_response(const Framing& framing, std::string_view location,
                           std::string_view date);

// A local file read whole (`text`), or one that failed with the network error the front end names
// (`net_error`, "-6 net::ERR_FILE_NOT_FOUND", sent as X-Net-Error and as the body) and the status
// the load gave; neither may be cached.
Response local_file_response(const Framing& framing, std::string_view text, std::string_view date);
Response local_file_error_response(const Framing& framing, int status, std::string_view net_error,
                                   std::string_view date);

// Why a head could not be parsed.
enum class UnreadableHead : std::uint8_t {
    TooLarge,      // over SERVE_HEADER_LIMIT
    BodyTooLarge,  // announces a body over SERVE_BODY_LIMIT
    Malformed,     // not an HTTP/1.x request head
};

// The answer to a head that could not be parsed (414, 431, 413 or 400), in HTTP/1.1; the
// connection ends after it. `unparsed` is what was read of the head: a head too large is a 414
// when it broke off inside its request target.
Response refuse(UnreadableHead why, std::string_view unparsed, std::string_view date);

}  // namespace quelby::serve
