// A node process with its inspector on a free loopback port.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "child_process.h"

namespace quelby::test_support {

class NodeInspector {
  public:
    // Whether node is installed; the tests that need it skip otherwise.
    static bool available();

    // `arguments` follow node's name: an --inspect form with port 0 on 127.0.0.1, then what to
    // run. Throws when node does not announce its inspector within 30 s.
    explicit NodeInspector(const std::vector<std::string>& arguments,
                           const std::vector<EnvChange>& env = {});

    // A node kept alive by a timer and nothing else: --inspect=127.0.0.1:0 on an idle script.
    static std::vector<std::string> idle();

    // "127.0.0.1:PORT"
    [[nodiscard]] const std::string& address() const { return address_; }
    [[nodiscard]] std::string port() const { return address_.substr(address_.find(':') + 1); }
    // "127.0.0.1:PORT/UUID", the target node announced.
    [[nodiscard]] const std::string& ws_target() const { return ws_target_; }
    [[nodiscard]] ChildProcess& process() { return node_; }

    // node's own word that a front end has connected: the one trustworthy sign.
    bool wait_attached(std::chrono::seconds limit);

  private:
    ChildProcess node_;
    std::string address_;
    std::string ws_target_;
};

}  // namespace quelby::test_support
