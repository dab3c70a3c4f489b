#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

#include "quelby/app/console.h"
#include "quelby/core/utf8.h"

namespace quelby::console {
namespace {

// Writes everything or gives up at the first error; interrupted writes are resumed.
bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The standard descriptors that were closed at start and now lead to /dev/null: what is written
// there is lost, so a write to them counts as failed.
std::array<bool, 3> reopened = {false, false, false};

}  // namespace

void prepare_process() {
    std::signal(SIGPIPE, SIG_IGN);
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // open() returns the lowest free descriptor, which is this one.
            const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                ::close(opened);
            }
            reopened.at(static_cast<std::size_t>(fd)) = opened == fd;
        }
    }
}

std::vector<std::string> collect_arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        arguments.push_back(to_utf8_lossy(argv[i]));
    }
    return arguments;
}

bool write_to(Stream stream, std::string_view text) {
    const int fd = stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
    return !reopened.at(static_cast<std::size_t>(fd)) && write_all(fd, text);
}

}  // namespace quelby::console
