// A node process with its inspector on a free loopback port, for the window tests.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "child_process.h"

namespace quelby::x11_testing {

class NodeInspector {
  public:
    // `arguments` follow node's name: an --inspect form with port 0, then what to run. Throws
    // when node does not announce its inspector within 30 s.
    NodeInspector(const std::vector<std::string>& arguments, const std::vector<EnvChange>& env);

    // "127.0.0.1:PORT"
    [[nodiscard]] const std::string& address() const { return address_; }
    [[nodiscard]] ChildProcess& process() { return node_; }

    // node's own word that a front end has connected: the one trustworthy sign.
    bool wait_attached(std::chrono::seconds limit);

  private:
    ChildProcess node_;
    std::string address_;
};

}  // namespace quelby::x11_testing
