// POSIX implementation of the tool's view of itself: where its executable lies and
// how wide its terminal is.
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/host.h"

namespace host {

std::string ExecutablePath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

int TerminalColumns(int fd) {
    struct winsize size {};
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

}  // namespace host
