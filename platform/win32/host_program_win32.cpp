// Win32 implementation of the tool's view of itself: where its executable lies, how
// wide its console is, its text and its clock.
#include <windows.h>

#include <io.h>

#include <ctime>

#include "platform/host.h"

namespace host {

std::string ExecutablePath() {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return {};
    return std::string(buffer, n);
}

int TerminalColumns(int fd) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &info)) return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

bool TextIsUtf8() { return false; }

bool UtcCalendarTime(int64_t seconds, std::tm* out) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    return gmtime_s(out, &t) == 0;
}

bool NameLostCharacters(const std::string& path) { return path.find('?') != std::string::npos; }

}  // namespace host
