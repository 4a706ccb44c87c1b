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
// Pixels at 96 DPI: the header's font heights, the comment's, and the comment view's
// distance from the dialog's edges and from the label above the buttons.
constexpr int kTitleHeight = 20;
constexpr int kSubtitleHeight = 14;
constexpr int kCommentHeight = 14;
constexpr int kMargin = 10;
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED

constexpr wchar_t kFolderTooLong[] =
    L"The path of this folder is too long. Please choose another folder.";

// A text of this program or of the library (plain ASCII) in UTF-16.
template <size_t N>
void Widen(const char* text, wchar_t (&out)[N]) {
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, static_cast<int>(N)) == 0) out[0] = L'\0';
    out[N - 1] = L'\0';
}

void Complain(HWND dialog, const wchar_t* text) {
    MessageBoxW(dialog, text, L"Error", MB_ICONERROR);
}

void FocusControl(HWND dialog, int id) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

// The comment text of `size` bytes in the archive's code page, its line ends widened for
// the edit control, in UTF-16; null when there is no memory for it. The caller frees it.
wchar_t* ReadComment(vorx_Stream* archive, uint64_t size) {
    if (size >= SIZE_MAX / 4) return nullptr;
    char* raw = static_cast<char*>(std::calloc(static_cast<size_t>(size) + 1, 1));
    if (raw == nullptr) return nullptr;
    // An entry that cannot be decoded (an encrypted one, say) leaves the text empty.
    if (vorx_DecompressToPtr(archive, vorx::kCommentEntryName, raw, nullptr, nullptr) !=
        vorx_Success)
        raw[0] = '\0';
    const size_t length = std::strlen(raw);
    char* text = static_cast<char*>(std::malloc(2 * length + 1));
    wchar_t* wide = static_cast<wchar_t*>(std::malloc((2 * length + 1) * sizeof(wchar_t)));
    if (text != nullptr && wide != nullptr) {
        text[vorx::WidenLineEnds(raw, length, text)] = '\0';
        if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, static_cast<int>(2 * length + 1)) == 0)
            wide[0] = L'\0';
    } else {
        std::free(wide);
        wide = nullptr;
    }
    std::free(text);
    std::free(raw);
    return wide;
}

// The classic look keeps the progress bar's own colour on systems with visual styles.
void UseClassicLook(HWND control) {
    using SetThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    if (auto setTheme = SystemFunctionAs<SetThemeFn>("uxtheme.dll", "SetWindowTheme"))
        setTheme(control, L"", L"");
}

// The two places where the wizard meets the worker's destination: shown in the path box,
// and taken from it as typed (UTF-16, as the worker keeps it).
void ShowDestination(HWND dialog, const ExtractWorker& worker) {
    SetDlgItemTextW(dialog, IDC_DESTINATION, worker.Destination);
}

bool TakeDestination(HWND dialog, ExtractWorker& worker) {
    const int length = GetWindowTextLengthW(GetDlgItem(dialog, IDC_DESTINATION));
    if (length >= static_cast<int>(sfx::kDestinationChars)) {
        Complain(dialog, kFolderTooLong);
        return false;
    }
    if (GetDlgItemTextW(dialog, IDC_DESTINATION, worker.Destination, sfx::kDestinationChars) < 2) {
        Complain(dialog, L"Please enter a path");
        return false;
    }
    return true;
}

// The folder browser answers in UTF-16, as the destination is kept.
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
    wchar_t path[MAX_PATH];
    if (pathOf(folder, path)) SetDlgItemTextW(dialog, IDC_DESTINATION, path);
    if (taskFree != nullptr) taskFree(folder);
}

void OnNext(WizardDialog* self, HWND dialog) {
    // Next is disabled on the last page; a stray confirmation (Enter) changes nothing.
    if (self->Page >= 2) return;
    if (self->Page == 1) {
        if (!TakeDestination(dialog, *self->Worker)) return;
        if (!self->Worker->Start(dialog,
                                 IsDlgButtonChecked(dialog, IDC_OVERWRITE) == BST_CHECKED)) {
            wchar_t text[128];
            Widen(vorx_GetErrorString(vorx_OutOfMemory), text);
            MessageBoxW(dialog, text, L"Error extracting", MB_OK);
            EndDialog(dialog, 2);
            return;
        }
    }
    self->NextPage(dialog);
}

void OnCancel(WizardDialog* self, HWND dialog) {
    if (self->Worker->IsRunning()) {
        if (MessageBoxW(dialog, L"Are you sure you wish to cancel extraction?", L"Cancel",
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
    TitleFont = SubtitleFont = CommentFont = nullptr;
    Picture = nullptr;
    PictureSide = 0;
    vorx_SetUserData(archive, this);
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_WIZARD), nullptr, WizardDialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void WizardDialog::GetPageTexts(int page, const char** title, const char** subtitle) {
    const sfx::PageTexts texts = sfx::PageTextsOf(page);
    *title = texts.title;
    *subtitle = texts.subtitle;
}

void WizardDialog::ShowPage(HWND dialog) {
    const char* texts[2];
    GetPageTexts(Page, &texts[0], &texts[1]);
    const int header[2] = {IDC_TITLE, IDC_SUBTITLE};
    for (int i = 0; i < 2; ++i) {
        wchar_t text[128];
        Widen(texts[i], text);
        SetDlgItemTextW(dialog, header[i], text);
    }
    switch (Page) {
        case 0:
            for (int id : {IDC_DESTINATION, IDC_OVERWRITE, IDC_BROWSE, IDC_STATUS})
                ShowControl(dialog, id, SW_HIDE);
            // Sunken like the path box on the next page.
            CommentView = CreateWindowExW(
                WS_EX_CLIENTEDGE, L"EDIT", L"",
                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
                    ES_READONLY,
                0, 0, 0, 0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_COMMENT_VIEW)),
                GetModuleHandleW(nullptr), nullptr);
            // Read, and reached with Tab, before the buttons; right after the subtitle, which
            // screen readers take as its label.
            if (CommentView != nullptr)
                SetWindowPos(CommentView, GetDlgItem(dialog, IDC_SUBTITLE), 0, 0, 0, 0,
                             SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            FocusControl(dialog, IDOK);
            break;
        case 1:
            ShowDestination(dialog, *Worker);
            FocusControl(dialog, IDC_DESTINATION);
            break;
        case 2: {
            HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
            SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
            SendMessageW(bar, PBM_SETBARCOLOR, 0, kBarColour);
            UseClassicLook(bar);
            ShowWindow(bar, SW_SHOW);
            // Focus leaves Next before it is disabled, so that keys still reach the dialog.
            FocusControl(dialog, IDCANCEL);
            EnableControl(dialog, IDOK, FALSE);
            break;
        }
        default:
            break;
    }
    ApplyScale(dialog);
    if (CommentView != nullptr && CommentFont == nullptr)
        MessageBoxW(dialog, L"Courier New not Found!", L"Font failure", MB_ICONERROR);
}

void WizardDialog::NextPage(HWND dialog) {
    if (Page == 0) {
        if (CommentView != nullptr) {
            DestroyWindow(CommentView);
            CommentView = nullptr;
        }
        if (CommentFont != nullptr) DeleteObject(CommentFont);
        CommentFont = nullptr;
        for (int id : {IDC_DESTINATION, IDC_OVERWRITE, IDC_BROWSE, IDC_STATUS})
            ShowControl(dialog, id, SW_SHOW);
    } else if (Page == 1) {
        for (int id : {IDC_DESTINATION, IDC_OVERWRITE, IDC_BROWSE})
            ShowControl(dialog, id, SW_HIDE);
        // From now on the label is the worker's status line, which shows names as they are.
        HWND status = GetDlgItem(dialog, IDC_STATUS);
        SetWindowLongPtrW(status, GWL_STYLE, GetWindowLongPtrW(status, GWL_STYLE) | SS_NOPREFIX);
        SetWindowTextW(status, L"");
    }
    ++Page;
    ShowPage(dialog);
}

void WizardDialog::ApplyScale(HWND dialog) {
    const UINT dpi = Scale.Dpi();
    const HFONT old[3] = {TitleFont, SubtitleFont, CommentFont};
    TitleFont = CreateScaledFont(kTitleHeight, FW_BOLD, L"Arial", dpi);
    SubtitleFont = CreateScaledFont(kSubtitleHeight, FW_NORMAL, L"Arial", dpi);
    CommentFont = CommentView != nullptr
                      ? CreateScaledFont(kCommentHeight, FW_NORMAL, L"Courier New", dpi)
                      : nullptr;
    SendDlgItemMessageW(dialog, IDC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(TitleFont), TRUE);
    SendDlgItemMessageW(dialog, IDC_SUBTITLE, WM_SETFONT, reinterpret_cast<WPARAM>(SubtitleFont),
                        TRUE);
    if (CommentView != nullptr) {
        // Between the header and the label left of the line above the buttons, clear of
        // both and of everything below them.
        RECT client;
        GetClientRect(dialog, &client);
        const int margin = ScaledPixels(kMargin, dpi);
        const int top = ControlRect(dialog, IDC_HEADER_LINE).bottom + 2 * margin;
        const int bottom = ControlRect(dialog, IDC_BRAND).top - margin;
        MoveWindow(CommentView, margin, top, client.right - 2 * margin,
                   bottom > top ? bottom - top : 0, TRUE);
        SendMessageW(CommentView, WM_SETFONT, reinterpret_cast<WPARAM>(CommentFont), TRUE);
    }
    if (Page == 2) {
        // The bar's frame takes the place of the hidden path box and keeps its own client
        // size.
        HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
        const POINT place = GetControlOffset(dialog, IDC_DESTINATION);
        RECT size;
        GetClientRect(bar, &size);
        MoveWindow(bar, place.x, place.y, size.right, size.bottom, TRUE);
    }
    for (HFONT font : old)
        if (font != nullptr) DeleteObject(font);
}

void WizardDialog::PaintHeader(HWND dialog, HDC dc) {
    RECT band;
    GetClientRect(dialog, &band);
    band.bottom = ControlRect(dialog, IDC_HEADER_LINE).top;
    FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

void WizardDialog::DrawPicture(const DRAWITEMSTRUCT& item) {
    const RECT& area = item.rcItem;
    FillRect(item.hDC, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const int side = width < height ? width : height;
    if (side != PictureSide) {
        if (Picture != nullptr) DeleteObject(Picture);
        Picture = CreateIconPicture(side);
        PictureSide = side;
    }
    HDC memory = Picture != nullptr ? CreateCompatibleDC(item.hDC) : nullptr;
    if (memory == nullptr) return;
    HGDIOBJ old = SelectObject(memory, Picture);
    BitBlt(item.hDC, area.right - side, area.top, side, side, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

void WizardDialog::Release(HWND dialog) {
    Scale.Release(dialog);
    for (HFONT font : {TitleFont, SubtitleFont, CommentFont})
        if (font != nullptr) DeleteObject(font);
    TitleFont = SubtitleFont = CommentFont = nullptr;
    if (Picture != nullptr) DeleteObject(Picture);
    Picture = nullptr;
}

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = DialogObject<WizardDialog>(dialog, message, lParam);
    switch (message) {
        case WM_INITDIALOG: {
            self->Window = dialog;
            vorx_FileInfo info;
            if (vorx_GetFileInfo(self->Archive, &info, vorx::kCommentEntryName) == vorx_Success) {
                // Without memory for the text the page stays empty.
                wchar_t* comment = ReadComment(self->Archive, info.uncompressedSize);
                self->ShowPage(dialog);
                if (comment != nullptr && self->CommentView != nullptr)
                    SetWindowTextW(self->CommentView, comment);
                std::free(comment);
            } else {
                self->NextPage(dialog);
            }
            return FALSE;  // the page has set the focus
        }
        case WM_PAINT: {
            if (self == nullptr) return FALSE;
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(dialog, &paint);
            self->PaintHeader(dialog, dc);
            EndPaint(dialog, &paint);
            return FALSE;
        }
        case WM_CTLCOLORSTATIC: {
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (id != IDC_TITLE && id != IDC_SUBTITLE) return FALSE;
            auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(0, 0, 0));
            SetBkColor(dc, RGB(255, 255, 255));
            return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (self == nullptr || item->CtlID != IDC_HEADER_PICTURE) return FALSE;
            self->DrawPicture(*item);
            return TRUE;
        }
        case kDpiChanged:
            if (self == nullptr) return FALSE;
            self->Scale.Change(dialog, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            self->ApplyScale(dialog);
            return TRUE;
        case WM_DESTROY:
            if (self != nullptr) self->Release(dialog);
            return FALSE;
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
