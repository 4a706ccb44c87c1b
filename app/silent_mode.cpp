#include "app/silent_mode.h"

namespace {

bool g_Silent = false;  // written once on the main thread before the worker starts

}  // namespace

void EnableSilentMode() { g_Silent = true; }

bool SilentMode() { return g_Silent; }

namespace {

int SilentAnswer(UINT flags) {
    const UINT buttons = flags & MB_TYPEMASK;
    return buttons == MB_YESNOCANCEL || buttons == MB_OKCANCEL || buttons == MB_RETRYCANCEL
               ? IDCANCEL
               : IDOK;
}

}  // namespace

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT flags) {
    return g_Silent ? SilentAnswer(flags) : MessageBoxA(owner, text, caption, flags);
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
    return g_Silent ? SilentAnswer(flags) : MessageBoxW(owner, text, caption, flags);
}
