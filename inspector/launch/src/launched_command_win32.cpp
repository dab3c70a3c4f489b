#include "quelby/launch/launched_command.h"

namespace quelby::launch {

// Launching needs a job object and a named pipe for the reports, which this build does not have
// yet: the run is refused before anything starts.
struct LaunchedCommand::State {};

void LaunchedCommand::take_interrupts() {}

std::expected<std::unique_ptr<LaunchedCommand>, StartFailure> LaunchedCommand::start(
    std::span<const std::string> /*command*/, bool /*hold*/, LaunchEvents /*events*/) {
    return std::unexpected(
        StartFailure{.error = ErrorChain::from_message(
                         "launching a command is not available on Windows yet: start node with "
                         "--inspect=127.0.0.1:0 and give its address instead"),
                     .status = 1});
}

LaunchedCommand::LaunchedCommand(std::unique_ptr<State> state) : state_(std::move(state)) {}
LaunchedCommand::~LaunchedCommand() = default;

}  // namespace quelby::launch
