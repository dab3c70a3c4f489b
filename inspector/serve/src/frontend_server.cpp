#include "quelby/serve/frontend_server.h"
#include "quelby/core/byte_text.h"

#include <optional>
#include <utility>
#include <variant>

#include "quelby/assets/asset_table.h"
#include "quelby/assets/frontend_url.h"
#include "quelby/discovery/socket_address.h"
#include "quelby/resources/random_token.h"
#include "quelby/serve/serve_response.h"
#include "quelby/serve/serve_rules.h"
#include "serve_host_routes.h"
#include "serve_listener.h"
#include "serve_platform.h"
#include "serve_root_lookup.h"
#include "serve_session.h"

#include <boost/asio/post.hpp>

namespace quelby {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// The front end's start page, as embedded.
std::string_view js_app_html() {
    const AssetEntry* entry = AssetTable::lookup(START_DOCUMENT);
    return entry == nullptr ? std::string_view{} : as_text(entry->bytes);
}

ErrorChain os_error(const boost::system::error_code& error) {
    return ErrorChain::from_os_error(error.value());
}

tcp::endpoint endpoint_of(const net::SocketAddress& address) {
    if (address.family == net::Family::V4) {
        return {asio::ip::address_v4(
                    {address.bytes[0], address.bytes[1], address.bytes[2], address.bytes[3]}),
                address.port};
    }
    return {asio::ip::address_v6(address.bytes, address.scope_id), address.port};
}

}  // namespace

struct FrontendServer::Impl {
    explicit Impl(std::size_t max_connections) : listener(io, max_connections) {}

    std::string bound_name;
    std::string origin;
    std::uint16_t port = 0;
    // The run's secret, without which no local file is served, and the pages built around the
    // embedder; constant while the server lives, so answers refer to them without copies.
    std::string secret = random_token();
    std::string start_page = serve::start_page_html(js_app_html());
    std::string host_script = serve::served_host_script();
    serve::FileValidators validators;

    // Asio's objects come after the io_context they work on, so that they go before it.
    asio::io_context io{1};
    serve::Listener listener;
    std::optional<serve::StopRequests> stop_requests;

    void stop() {
        listener.close();
        io.stop();
    }
};

FrontendServer::FrontendServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FrontendServer::~FrontendServer() = default;

const std::string& FrontendServer::origin() const {
    return impl_->origin;
}

const std::string& FrontendServer::secret() const {
    return impl_->secret;
}

std::uint16_t FrontendServer::port() const {
    return impl_->port;
}

Result<std::unique_ptr<FrontendServer>> FrontendServer::listen(std::string_view address,
                                                               StopOn stop_on,
                                                               std::size_t max_connections) {
    const auto fail = [&](ErrorChain cause) {
        return std::unexpected(std::move(cause).with_context("failed to serve the front end on " +
                                                             std::string(address)));
    };
    auto plan = net::plan_address(address);
    if (!plan) {
        return fail(std::move(plan.error()));
    }
    auto impl = std::make_unique<Impl>(max_connections);
    net::SocketAddress bound;
    if (const auto* literal = std::get_if<net::SocketAddress>(&*plan)) {
        bound = *literal;
    } else {
        const auto& named = std::get<net::HostAndPort>(*plan);
        auto resolved = net::resolve_host(named.host, named.port);
        if (!resolved) {
            return fail(std::move(resolved.error()));
        }
        if (resolved->empty()) {
            return fail(ErrorChain::from_message(std::string(net::NO_ADDRESSES)));
        }
        bound = resolved->front();
        impl->bound_name = named.host;
    }

    const auto port = impl->listener.listen(endpoint_of(bound));
    if (!port) {
        return fail(os_error(port.error()));
    }
    impl->port = *port;
    bound.port = impl->port;
    impl->origin = serve::origin_for(impl->bound_name, bound);
    if (stop_on == StopOn::CallOrInterrupt) {
        Impl& server = *impl;
        impl->stop_requests.emplace(impl->io, [&server] { server.stop(); });
    }
    return std::unique_ptr<FrontendServer>(new FrontendServer(std::move(impl)));
}

Status FrontendServer::run(std::string front_end_target, FrontEndLookup lookup) {
    Impl& impl = *impl_;
    // Both live for this call only, the only time the sessions' handlers run.
    serve::RootLookup root(impl.io, std::move(front_end_target), std::move(lookup));
    serve::Site site{
        .context =
            {
                .bound_name = impl.bound_name,
                .validators = impl.validators,
                .secret = impl.secret,
                .start_page = impl.start_page,
                .host_script = impl.host_script,
                .root_location = root.known_location(),
                .date = {},
            },
        .dates = {},
        .root = root,
    };
    impl.listener.start(site);
    impl.io.run();
    impl.listener.close();
    return {};
    // `root` ends here, with the io_context still there: a lookup under way is asked to stop and
    // awaited, and the requests of "/" still waiting for it are dropped with their connections.
}

void FrontendServer::stop() {
    Impl& impl = *impl_;
    asio::post(impl.io, [&impl] { impl.stop(); });
}

}  // namespace quelby
