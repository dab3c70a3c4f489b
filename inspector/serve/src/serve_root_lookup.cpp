#include "serve_root_lookup.h"

#include <stop_token>

#include <boost/asio/post.hpp>

namespace quelby::serve {

RootLookup::RootLookup(boost::asio::io_context& io, std::string front_end_target,
                       FrontendServer::FrontEndLookup lookup)
    : io_(io), location_(std::move(front_end_target)), lookup_(std::move(lookup)) {}

RootLookup::~RootLookup() {
    // Before anything the thread uses goes.
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

std::optional<std::string_view> RootLookup::known_location() const {
    if (lookup_) {
        return std::nullopt;
    }
    return location_;
}

void RootLookup::follow(Redirect redirect) {
    if (!lookup_) {
        redirect(location_);
        return;
    }
    const bool idle = waiting_.empty();
    waiting_.push_back(std::move(redirect));
    if (idle) {
        start_lookup();
    }
}

void RootLookup::start_lookup() {
    // The previous lookup has handed its answer over already: replacing its thread only waits for
    // it to end.
    thread_ = std::jthread([this](std::stop_token stop) {
        std::optional<std::string> found = lookup_(std::move(stop));
        // Never run once the server has stopped: the io_context drops it unrun.
        boost::asio::post(io_, [this, found = std::move(found)] { answer(found); });
    });
}

void RootLookup::answer(const std::optional<std::string>& found) {
    if (found) {
        location_ = *found;
    }
    for (const Redirect& redirect : std::exchange(waiting_, {})) {
        redirect(location_);
    }
}

}  // namespace quelby::serve
