// Silent mode ("/q /s"): a quiet run that shows no window at all, for deployment tools
// that cannot answer one. Questions get the answer that changes nothing, password
// prompts count as cancelled, failures are told by the exit code alone.
// WinMain switches it on before anything is shown; it never changes afterwards.
#pragma once

#include <windows.h>

void EnableSilentMode();
bool SilentMode();

// MessageBoxA outside silent mode. In silent mode nothing is shown and the answer is
// Cancel for a box that has a Cancel button (an overwrite question stops the run),
// OK for any other.
int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT flags);
// The same for texts with paths and names in them, which are UTF-16.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);
