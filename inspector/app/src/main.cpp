// quelby_inspector: opens a DevTools window on a running V8 inspector.
#include <exception>

#include "quelby/app/console.h"
#include "quelby/app/launcher.h"
#include "quelby/core/error_chain.h"

int main(int argc, char** argv) {
    quelby::console::prepare_process();
    try {
        const std::vector<std::string> arguments = quelby::console::collect_arguments(argc, argv);
        const quelby::Result<int> status = quelby::run(arguments);
        if (status) {
            // The window and the web view are gone by now; the process ends here, not in the host.
            return *status;
        }
        quelby::console::write_report(quelby::format_report(status.error()));
    } catch (const std::exception& error) {
        // Only exhaustion of memory can land here; it is reported like any error.
        quelby::console::write_report(std::string("Error: ") + error.what() + "\n");
    }
    return 1;
}
