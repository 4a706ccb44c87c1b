// The password dialog. The remembered password lives only in this object's memory.
#include "app/password_dialog.h"

#include <cstring>

#include "app/res/resource.h"
#include "app/silent_mode.h"

namespace {

constexpr int kMinimumLength = 6;

// The longest password taken: 63 characters. Archives are made with passwords of at
// most this length, and the edit field refuses to take more, so what the user sees in
// it is what is used.
constexpr int kMaximumLength = 63;

// Accepts the typed password: at least six characters, at most 63 (longer text is cut).
INT_PTR OnOk(HWND dialog, PasswordDialog* self) {
    char typed[256] = {};
    GetDlgItemTextA(dialog, IDC_PASSWORD, typed, kMaximumLength + 1);
    if (std::strlen(typed) < kMinimumLength) {
        MessageBoxA(dialog, "The minimum password length is 6 characters", "Error", MB_ICONERROR);
        SecureZeroMemory(typed, sizeof typed);
        return FALSE;
    }
    std::memcpy(self->Output, typed, std::strlen(typed) + 1);
    if (IsDlgButtonChecked(dialog, IDC_REMEMBER) == BST_CHECKED) {
        self->HasRemembered = 1;
        std::memcpy(self->Remembered, typed, sizeof typed);
    }
    SecureZeroMemory(typed, sizeof typed);
    EndDialog(dialog, 1);
    return TRUE;
}

}  // namespace

void PasswordDialog::Init(HINSTANCE instance) {
    Output = nullptr;
    Prompt = nullptr;
    Instance = instance;
    HasRemembered = 0;
    Remembered[0] = '\0';
}

INT_PTR PasswordDialog::Run(HWND parent, char* output, const char* prompt) {
    Output = output;
    Prompt = prompt;
    if (SilentMode()) return 2;  // nobody to ask: as if cancelled
    return DialogBoxParamA(Instance, MAKEINTRESOURCEA(IDD_PASSWORD), parent, PasswordDialogProc,
                           reinterpret_cast<LPARAM>(this));
}

const char* PasswordDialog::GetRemembered() const { return HasRemembered ? Remembered : nullptr; }

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            auto* self = reinterpret_cast<PasswordDialog*>(lParam);
            SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
            SendDlgItemMessageA(dialog, IDC_PASSWORD, EM_LIMITTEXT, kMaximumLength, 0);
            if (self->Prompt != nullptr) SetDlgItemTextA(dialog, IDC_PROMPT, self->Prompt);
            if (self->HasRemembered) {
                SetDlgItemTextA(dialog, IDC_PASSWORD, self->Remembered);
                CheckDlgButton(dialog, IDC_REMEMBER, BST_CHECKED);
            }
            return TRUE;
        }
        case WM_COMMAND: {
            auto* self =
                reinterpret_cast<PasswordDialog*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
            if (self == nullptr) return FALSE;
            switch (LOWORD(wParam)) {
                case IDOK:
                    return OnOk(dialog, self);
                case IDCANCEL:
                    EndDialog(dialog, 2);
                    return TRUE;
                default:
                    return FALSE;
            }
        }
        default:
            return FALSE;
    }
}
