// Where the served "/" leads: the front-end target the server started with, or, with a lookup,
// what the lookup finds again for each request of "/" (the debuggee may have restarted with a new
// target). One lookup at a time runs on a thread of its own; the requests of "/" that arrive
// meanwhile share its answer. All but the thread run on the io thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "quelby/serve/frontend_server.h"

// Boost 1.74's Asio uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio/io_context.hpp>

namespace quelby::serve {

class RootLookup {
  public:
    using Redirect = std::function<void(const std::string& location)>;

    // Answers go through `io`, which must outlive this object.
    RootLookup(boost::asio::io_context& io, std::string front_end_target,
               FrontendServer::FrontEndLookup lookup);
    // A lookup under way is asked to stop and awaited; its answer, if posted, is never run, and
    // the requests still waiting for it are dropped.
    ~RootLookup();
    RootLookup(const RootLookup&) = delete;
    RootLookup& operator=(const RootLookup&) = delete;

    // Where "/" leads when no lookup is needed (none was given); nullopt otherwise.
    [[nodiscard]] std::optional<std::string_view> known_location() const;

    // Calls `redirect` with where "/" leads: at once without a lookup, else when the lookup under
    // way ends, or a new one started for this request.
    void follow(Redirect redirect);

  private:
    void start_lookup();
    void answer(const std::optional<std::string>& found);

    boost::asio::io_context& io_;
    std::string location_;  // the last answer; a failed lookup keeps it
    FrontendServer::FrontEndLookup lookup_;
    // A lookup is under way exactly while some request waits for it.
    std::vector<Redirect> waiting_;
    std::jthread thread_;
};

}  // namespace quelby::serve
