#include "app/silent_mode.h"

namespace {

bool g_Silent = false;  // written once on the main thread before the worker starts

}  // namespace

void EnableSilentMode() { g_Silent = true; }

bool SilentMode() { return g_Silent; }

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT flags) {
    if (!g_Silent) return MessageBoxA(owner, text, caption, flags);
    const UINT buttons = flags & MB_TYPEMASK;
    return buttons == MB_YESNOCANCEL || buttons == MB_OKCANCEL || buttons == MB_RETRYCANCEL
               ? IDCANCEL
               : IDOK;
}
