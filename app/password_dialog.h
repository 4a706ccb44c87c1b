// The password dialog (resource 249): asks for a password and can remember it for the
// following files. One object serves the whole run: the open-time prompt on the main
// thread and the per-file prompts on the worker thread, which never overlap.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/dialog_scale.h"

struct PasswordDialog {
    char* Output;        // the caller's 256-byte buffer; receives the password on OK
    const char* Prompt;  // text for the prompt line; null keeps the template's text
    char Remembered[256];
    uint8_t HasRemembered;
    HINSTANCE Instance;
    DialogScale Scale;  // of the dialog shown now

    void Init(HINSTANCE instance);
    // 1 when the user confirmed a password of at least 6 characters, 2 on Cancel,
    // 0 or -1 when the dialog could not be shown.
    INT_PTR Run(HWND parent, char* output, const char* prompt);
    // The remembered password, or null.
    const char* GetRemembered() const;
};

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
