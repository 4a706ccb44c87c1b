// The password dialog. The remembered password lives only in this object's memory. The
// text is typed in UTF-16 and handed on in the ANSI code page, the archive's; a password
// that the code page cannot hold exactly is refused, never approximated.
#include "app/password_dialog.h"

#include <cstring>

#include "app/code_page.h"
#include "app/res/resource.h"
#include "app/silent_mode.h"

namespace {

constexpr int kMinimumLength = 6;

// The longest password taken: 63 characters and, in the code page, 63 bytes. Archives
// are made with passwords of at most this length, and the edit field refuses to take more
// characters, so what the user sees in it is what is used.
constexpr int kMaximumLength = 63;
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED

INT_PTR Refuse(HWND dialog, const wchar_t* text) {
    MessageBoxW(dialog, text, L"Error", MB_ICONERROR);
    return FALSE;
}

// Accepts the typed password: at least six characters, at most 63 (longer text is cut).
INT_PTR OnOk(HWND dialog, PasswordDialog* self) {
    wchar_t typed[kMaximumLength + 1] = {};
    char password[256] = {};
    GetDlgItemTextW(dialog, IDC_PASSWORD, typed, kMaximumLength + 1);
    INT_PTR result = TRUE;
    if (lstrlenW(typed) < kMinimumLength) {
        result = Refuse(dialog, L"The minimum password length is 6 characters");
    } else {
        switch (ToAnsiPath(typed, password, kMaximumLength + 1)) {
            case AnsiPath::Exact:
                break;
            case AnsiPath::TooLong:
                result = Refuse(dialog, L"The password is too long for this system's code page.");
                break;
            case AnsiPath::Unrepresentable:
                result = Refuse(dialog,
                                L"The password has characters that this system's code page "
                                L"cannot represent.");
                break;
        }
    }
    if (result) {
        std::memcpy(self->Output, password, std::strlen(password) + 1);
        if (IsDlgButtonChecked(dialog, IDC_REMEMBER) == BST_CHECKED) {
            self->HasRemembered = 1;
            std::memcpy(self->Remembered, password, sizeof password);
        }
        EndDialog(dialog, 1);
    }
    SecureZeroMemory(typed, sizeof typed);
    SecureZeroMemory(password, sizeof password);
    return result;
}

// Sets a control's text from the code page.
void SetText(HWND dialog, int id, const char* text) {
    wchar_t wide[256];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 256) == 0) wide[0] = L'\0';
    wide[255] = L'\0';
    SetDlgItemTextW(dialog, id, wide);
    SecureZeroMemory(wide, sizeof wide);
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
    return DialogBoxParamW(Instance, MAKEINTRESOURCEW(IDD_PASSWORD), parent, PasswordDialogProc,
                           reinterpret_cast<LPARAM>(this));
}

const char* PasswordDialog::GetRemembered() const { return HasRemembered ? Remembered : nullptr; }

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = DialogObject<PasswordDialog>(dialog, message, lParam);
    switch (message) {
        case WM_INITDIALOG: {
            SendDlgItemMessageW(dialog, IDC_PASSWORD, EM_LIMITTEXT, kMaximumLength, 0);
            if (self->Prompt != nullptr) SetText(dialog, IDC_PROMPT, self->Prompt);
            if (self->HasRemembered) {
                SetText(dialog, IDC_PASSWORD, self->Remembered);
                CheckDlgButton(dialog, IDC_REMEMBER, BST_CHECKED);
            }
            return TRUE;  // the focus goes to the password field
        }
        case kDpiChanged:
            if (self == nullptr) return FALSE;
            self->Scale.Change(dialog, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return TRUE;
        case WM_DESTROY:
            if (self != nullptr) self->Scale.Release(dialog);
            return FALSE;
        case WM_COMMAND:
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
        default:
            return FALSE;
    }
}
