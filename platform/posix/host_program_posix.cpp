// POSIX implementation of the tool's view of itself: where its executable lies, how
// wide its terminal is, its text and its clock.
#include <sys/ioctl.h>
#include <unistd.h>

#include <ctime>

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

bool TextIsUtf8() { return true; }

bool UtcCalendarTime(int64_t seconds, std::tm* out) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    return gmtime_r(&t, out) != nullptr;
}

bool NameLostCharacters(const std::string&) { return false; }

}  // namespace host
