// Exact conversion of wide paths into the ANSI code page.
#include "app/code_page.h"

AnsiPath ToAnsiPath(const wchar_t* wide, char* out, size_t capacity) {
    out[0] = '\0';
    // Best fit is off and the default character is reported; UTF-8 takes neither
    // option, and there only the round trip below tells.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* reportDefault = utf8 ? nullptr : &usedDefault;
    const int needed =
        WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, nullptr, reportDefault);
    if (needed <= 0 || usedDefault) return AnsiPath::Unrepresentable;
    if (static_cast<size_t>(needed) > capacity) return AnsiPath::TooLong;
    if (WideCharToMultiByte(CP_ACP, flags, wide, -1, out, needed, nullptr, reportDefault) !=
            needed ||
        usedDefault) {
        out[0] = '\0';
        return AnsiPath::Unrepresentable;
    }
    // The text must read back as the very same characters.
    wchar_t back[MAX_PATH + 1];
    const int length =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, out, -1, back, MAX_PATH + 1);
    bool same = length > 0;
    for (int i = 0; same && i < length; ++i) same = back[i] == wide[i];
    if (!same) {
        out[0] = '\0';
        // Only a path longer than MAX_PATH characters can fail to read back for room.
        return length == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER
                   ? AnsiPath::TooLong
                   : AnsiPath::Unrepresentable;
    }
    return AnsiPath::Exact;
}
