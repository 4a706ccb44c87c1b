// Win32 implementation of the tool's view of itself: where its executable lies (in
// UTF-8, as all host text), how wide its console is, its text and its clock.
#include <windows.h>

#include <io.h>

#include <ctime>
#include <string>

#include "platform/host.h"

namespace host {

std::string ExecutablePath() {
    std::wstring wide(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
    if (n == 0 || n >= wide.size()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(),
                                         static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string path(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size <= 0 ||
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(n),
                            path.data(), size, nullptr, nullptr) != size)
        return {};
    return path;
}

int TerminalColumns(int fd) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &info)) return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

bool TextIsUtf8() { return true; }

bool UtcCalendarTime(int64_t seconds, std::tm* out) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    return gmtime_s(out, &t) == 0;
}

bool NameLostCharacters(const std::string& path) { return path.find('?') != std::string::npos; }

}  // namespace host
