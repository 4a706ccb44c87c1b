// The wizard dialog. All handlers run on the main thread inside the modal loop; the
// worker thread reaches the dialog only through synchronous window calls.
#include "app/wizard_dialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "app/app_logic.h"
#include "app/extract_worker.h"
#include "app/res/resource.h"
#include "app/system_libraries.h"
#include "container/format.h"

namespace {

constexpr COLORREF kBarColour = 0x00BE7D0B;

// The comment text of `size` bytes, its line ends widened for the edit control; null
// when there is no memory for it. The caller frees the text.
char* ReadComment(vorx_Stream* archive, uint64_t size) {
    if (size >= SIZE_MAX / 2) return nullptr;
    char* raw = static_cast<char*>(std::calloc(static_cast<size_t>(size) + 1, 1));
    if (raw == nullptr) return nullptr;
    // An entry that cannot be decoded (an encrypted one, say) leaves the text empty.
    if (vorx_DecompressToPtr(archive, vorx::kCommentEntryName, raw, nullptr, nullptr) !=
        vorx_Success)
        raw[0] = '\0';
    const size_t length = std::strlen(raw);
    char* text = static_cast<char*>(std::malloc(2 * length + 1));
    if (text == nullptr) return raw;
    text[vorx::WidenLineEnds(raw, length, text)] = '\0';
    std::free(raw);
    return text;
}

// The classic look keeps the progress bar's own colour on systems with visual styles.
void UseClassicLook(HWND control) {
    using SetThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    if (auto setTheme = SystemFunctionAs<SetThemeFn>("uxtheme.dll", "SetWindowTheme"))
        setTheme(control, L"", L"");
}

// The folder browser answers in wide characters, as the destination is kept.
void Browse(HWND dialog) {
    using BrowseFn = LPITEMIDLIST(WINAPI*)(LPBROWSEINFOW);
    using PathFn = BOOL(WINAPI*)(LPCITEMIDLIST, LPWSTR);
    using OleInitializeFn = HRESULT(WINAPI*)(LPVOID);
    using FreeFn = void(WINAPI*)(LPVOID);
    auto browse = SystemFunctionAs<BrowseFn>("shell32.dll", "SHBrowseForFolderW");
    auto pathOf = SystemFunctionAs<PathFn>("shell32.dll", "SHGetPathFromIDListW");
    auto oleInitialize = SystemFunctionAs<OleInitializeFn>("ole32.dll", "OleInitialize");
    auto taskFree = SystemFunctionAs<FreeFn>("ole32.dll", "CoTaskMemFree");
    if (browse == nullptr || pathOf == nullptr) return;
    // The new-style folder browser needs OLE on the calling thread; a repeated call only
    // counts up.
    if (oleInitialize != nullptr) oleInitialize(nullptr);

    BROWSEINFOW info;
    std::memset(&info, 0, sizeof info);
    info.hwndOwner = dialog;
    info.lpszTitle = L"Select the folder to extract to";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_UAHINT;
    LPITEMIDLIST folder = browse(&info);
    if (folder == nullptr) return;
    wchar_t wide[MAX_PATH];
    if (pathOf(folder, wide)) SetDlgItemTextW(dialog, IDC_DESTINATION, wide);
    if (taskFree != nullptr) taskFree(folder);
}

void OnNext(WizardDialog* self, HWND dialog) {
    // Next is disabled on the last page; a stray confirmation (Enter) changes nothing.
    if (self->Page >= 2) return;
    if (self->Page == 1) {
        ExtractWorker* worker = self->Worker;
        GetDlgItemTextW(dialog, IDC_DESTINATION, worker->Destination, sfx::kDestinationChars);
        if (lstrlenW(worker->Destination) < 2) {
            MessageBoxA(dialog, "Please enter a path", "Error", MB_ICONERROR);
            return;
        }
        if (!worker->Start(dialog, IsDlgButtonChecked(dialog, IDC_OVERWRITE) == BST_CHECKED)) {
            MessageBoxA(dialog, vorx_GetErrorString(vorx_OutOfMemory), "Error extracting", MB_OK);
            EndDialog(dialog, 2);
            return;
        }
        EnableControl(dialog, IDOK, FALSE);
    }
    self->NextPage(dialog);
    InvalidateRect(dialog, nullptr, TRUE);
}

void OnCancel(WizardDialog* self, HWND dialog) {
    if (self->Worker->IsRunning()) {
        if (MessageBoxA(dialog, "Are you sure you wish to cancel extraction?", "Cancel",
                        MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        self->Worker->Cancel();
        EnableControl(dialog, IDCANCEL, FALSE);
    }
    EndDialog(dialog, 2);
}

}  // namespace

void EnableControl(HWND dialog, int id, BOOL enable) {
    EnableWindow(GetDlgItem(dialog, id), enable);
}

void ShowControl(HWND dialog, int id, int command) { ShowWindow(GetDlgItem(dialog, id), command); }

POINT GetControlOffset(HWND dialog, int id) {
    POINT controlOrigin{0, 0};
    POINT dialogOrigin{0, 0};
    ClientToScreen(GetDlgItem(dialog, id), &controlOrigin);
    ClientToScreen(dialog, &dialogOrigin);
    return POINT{controlOrigin.x - dialogOrigin.x, controlOrigin.y - dialogOrigin.y};
}

INT_PTR WizardDialog::Run(HINSTANCE instance, vorx_Stream* archive, ExtractWorker& worker) {
    Page = 0;
    CommentView = nullptr;
    Window = nullptr;
    Worker = &worker;
    Archive = archive;
    vorx_SetUserData(archive, this);
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_WIZARD), nullptr, WizardDialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void WizardDialog::GetPageTexts(int page, const char** title, const char** subtitle) {
    const sfx::PageTexts texts = sfx::PageTextsOf(page);
    *title = texts.title;
    *subtitle = texts.subtitle;
}

void WizardDialog::ShowPage(HWND dialog) {
    switch (Page) {
        case 0: {
            for (int id : {IDC_DESTINATION, IDC_OVERWRITE, IDC_BROWSE, IDC_STATUS})
                ShowControl(dialog, id, SW_HIDE);
            RECT client;
            GetClientRect(dialog, &client);
            CommentView =
                CreateWindowExA(0, "EDIT", "",
                                WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP |
                                    ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
                                10, 80, client.right - 20, client.bottom - 145, dialog,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_COMMENT_VIEW)),
                                GetModuleHandleA(nullptr), nullptr);
            if (CommentView == nullptr) break;
            HFONT font = CreateFontA(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                     0, "Courier New");
            if (font == nullptr)
                MessageBoxA(dialog, "Courier New not Found!", "Font failure", MB_ICONERROR);
            else
                SendMessageA(CommentView, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
            break;
        }
        case 1:
            SetDlgItemTextW(dialog, IDC_DESTINATION, Worker->Destination);
            break;
        case 2: {
            HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
            SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
            SendMessageA(bar, PBM_SETBARCOLOR, 0, kBarColour);
            UseClassicLook(bar);
            const POINT place = GetControlOffset(dialog, IDC_DESTINATION);
            RECT size;
            GetClientRect(bar, &size);
            MoveWindow(bar, place.x, place.y, size.right, size.bottom, TRUE);
            ShowWindow(bar, SW_SHOW);
            break;
        }
        default:
            break;
    }
}

void WizardDialog::NextPage(HWND dialog) {
    if (Page == 0) {
        if (CommentView != nullptr) {
            auto font = reinterpret_cast<HFONT>(SendMessageA(CommentView, WM_GETFONT, 0, 0));
            SendMessageA(CommentView, WM_SETFONT,
                         reinterpret_cast<WPARAM>(GetStockObject(ANSI_VAR_FONT)), TRUE);
            if (font != nullptr) DeleteObject(font);
            DestroyWindow(CommentView);
            CommentView = nullptr;
        }
        for (int id : {IDC_DESTINATION, IDC_OVERWRITE, IDC_BROWSE, IDC_STATUS})
            ShowControl(dialog, id, SW_SHOW);
    } else if (Page == 1) {
        for (int id : {IDC_DESTINATION, IDC_OVERWRITE, IDC_BROWSE})
            ShowControl(dialog, id, SW_HIDE);
        SetDlgItemTextA(dialog, IDC_STATUS, "");
    }
    ++Page;
    ShowPage(dialog);
}

void WizardDialog::PaintHeader(HWND dialog, HDC dc) {
    const int lineY = GetControlOffset(dialog, IDC_HEADER_LINE).y;
    RECT client;
    GetClientRect(dialog, &client);
    RECT band{0, 0, client.right, lineY - 1};
    FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

    const char* title;
    const char* subtitle;
    GetPageTexts(Page, &title, &subtitle);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);

    struct Line {
        const char* text;
        int height;
        int weight;
        int x;
        int y;
    };
    const Line lines[] = {{title, 20, FW_BOLD, 10, 5}, {subtitle, 14, FW_NORMAL, 15, 26}};
    for (const Line& line : lines) {
        HFONT font = CreateFontA(line.height, 0, 0, 0, line.weight, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0, "Arial");
        if (font == nullptr) return;
        HGDIOBJ old = SelectObject(dc, font);
        TextOutA(dc, line.x, line.y, line.text, static_cast<int>(std::strlen(line.text)));
        SelectObject(dc, old);
        DeleteObject(font);
    }
}

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<WizardDialog*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    switch (message) {
        case WM_INITDIALOG: {
            self = reinterpret_cast<WizardDialog*>(lParam);
            SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
            self->Window = dialog;
            vorx_FileInfo info;
            if (vorx_GetFileInfo(self->Archive, &info, vorx::kCommentEntryName) == vorx_Success) {
                // Without memory for the text the page stays empty.
                char* comment = ReadComment(self->Archive, info.uncompressedSize);
                self->ShowPage(dialog);
                if (comment != nullptr && self->CommentView != nullptr)
                    SetWindowTextA(self->CommentView, comment);
                std::free(comment);
            } else {
                self->NextPage(dialog);
            }
            return TRUE;
        }
        case WM_PAINT: {
            if (self == nullptr) return FALSE;
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(dialog, &paint);
            self->PaintHeader(dialog, dc);
            EndPaint(dialog, &paint);
            return FALSE;
        }
        case WM_COMMAND:
            if (self == nullptr) return FALSE;
            switch (LOWORD(wParam)) {
                case IDOK:
                    OnNext(self, dialog);
                    break;
                case IDCANCEL:
                    OnCancel(self, dialog);
                    break;
                case IDC_BROWSE:
                    Browse(dialog);
                    break;
                default:
                    break;
            }
            return TRUE;
        default:
            return FALSE;
    }
}
