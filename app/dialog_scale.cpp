// The dialogs at every display scale. Functions newer than the oldest supported system
// are looked up at run time.
#include "app/dialog_scale.h"

#include <cstdlib>

#include "app/res/resource.h"
#include "app/system_libraries.h"

namespace {

constexpr WPARAM kIconKinds[] = {ICON_SMALL, ICON_BIG};
constexpr int kIconMetrics[] = {SM_CXSMICON, SM_CXICON};
constexpr int kLargestIcon = 256;

// Leaves fonts, sizes and control places to the dialog on a DPI change
// (SetDialogDpiChangeBehavior with DDC_DISABLE_ALL), so that every system takes the
// same path: the one written here.
constexpr int kDialogScalesItself = 1;

int SystemMetricAt(int index, UINT dpi) {
    using MetricFn = int(WINAPI*)(int, UINT);
    if (auto metric = SystemFunctionAs<MetricFn>("user32.dll", "GetSystemMetricsForDpi"))
        return metric(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi),
                  static_cast<int>(WindowDpi(nullptr)));
}

HICON LoadAppIcon(int side) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP),
                                         IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
}

// Area averaging of a line of `from` pixels into `to` pixels (blue, green, red and a
// fourth byte; `inStep` and `outStep` bytes apart): each pixel made is the mean of the
// part of the line it covers. Input pixel j spans [j * to, (j + 1) * to), output pixel i
// spans [i * from, (i + 1) * from), in the same units.
void ResampleLine(const BYTE* in, int inStep, int from, BYTE* out, int outStep, int to) {
    for (int i = 0; i < to; ++i, out += outStep) {
        const int low = i * from, high = low + from;
        int sums[3] = {0, 0, 0};
        for (int j = low / to; j * to < high; ++j) {
            const int right = (j + 1) * to < high ? (j + 1) * to : high;
            const int weight = right - (j * to > low ? j * to : low);
            for (int c = 0; c < 3; ++c) sums[c] += weight * in[j * inStep + c];
        }
        for (int c = 0; c < 3; ++c) out[c] = static_cast<BYTE>((sums[c] + from / 2) / from);
        out[3] = 0;
    }
}

// A top-down 32-bit DIB section `side` pixels square and its pixels.
HBITMAP CreatePixels(int side, BYTE** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = side;
    info.bmiHeader.biHeight = -side;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    *bits = static_cast<BYTE*>(pixels);
    return bitmap;
}

}  // namespace

HBITMAP CreateIconPicture(int side) {
    HICON icon = side > 0 ? LoadAppIcon(kLargestIcon) : nullptr;
    if (icon == nullptr) return nullptr;
    BYTE* master = nullptr;
    HBITMAP masterBitmap = CreatePixels(kLargestIcon, &master);
    HDC dc = masterBitmap != nullptr ? CreateCompatibleDC(nullptr) : nullptr;
    const bool drawn = dc != nullptr;
    if (drawn) {
        HGDIOBJ old = SelectObject(dc, masterBitmap);
        PatBlt(dc, 0, 0, kLargestIcon, kLargestIcon, WHITENESS);
        DrawIconEx(dc, 0, 0, icon, kLargestIcon, kLargestIcon, 0, nullptr, DI_NORMAL);
        GdiFlush();
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    DestroyIcon(icon);
    BYTE* result = nullptr;
    HBITMAP picture = drawn ? CreatePixels(side, &result) : nullptr;
    // One pass along the rows into `across` (side x 256 pixels), one down its columns.
    auto* across = static_cast<BYTE*>(
        picture != nullptr ? std::malloc(4 * static_cast<size_t>(side) * kLargestIcon) : nullptr);
    if (across != nullptr) {
        for (int y = 0; y < kLargestIcon; ++y)
            ResampleLine(master + 4 * y * kLargestIcon, 4, kLargestIcon, across + 4 * y * side, 4,
                         side);
        for (int x = 0; x < side; ++x)
            ResampleLine(across + 4 * x, 4 * side, kLargestIcon, result + 4 * x, 4 * side, side);
        std::free(across);
    } else if (picture != nullptr) {
        DeleteObject(picture);
        picture = nullptr;
    }
    if (masterBitmap != nullptr) DeleteObject(masterBitmap);
    return picture;
}

UINT WindowDpi(HWND window) {
    using DpiFn = UINT(WINAPI*)(HWND);
    const auto windowDpi = SystemFunctionAs<DpiFn>("user32.dll", "GetDpiForWindow");
    if (window != nullptr && windowDpi != nullptr) {
        const UINT dpi = windowDpi(window);
        if (dpi != 0) return dpi;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

HFONT CreateScaledFont(int height, int weight, const wchar_t* face, UINT dpi) {
    return CreateFontW(ScaledPixels(height, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       ANTIALIASED_QUALITY, 0, face);
}

RECT ControlRect(HWND dialog, int id) {
    RECT rect{0, 0, 0, 0};
    HWND control = GetDlgItem(dialog, id);
    if (control != nullptr && GetWindowRect(control, &rect))
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void DialogScale::Init(HWND dialog) {
    baseDpi_ = dpi_ = WindowDpi(dialog);
    templateFont_ = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    font_ = nullptr;
    count_ = 0;
    for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr && count_ < kMaxPlaces;
         control = GetWindow(control, GW_HWNDNEXT)) {
        Place& place = places_[count_++];
        place.control = control;
        GetWindowRect(control, &place.rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place.rect), 2);
    }
    using BehaviourFn = BOOL(WINAPI*)(HWND, int, int);
    if (auto behaviour = SystemFunctionAs<BehaviourFn>("user32.dll", "SetDialogDpiChangeBehavior"))
        behaviour(dialog, kDialogScalesItself, kDialogScalesItself);
    SetIcons(dialog);
    SendMessageW(dialog, DM_REPOSITION, 0, 0);  // wholly on its display
    // Posted, so that it comes after the dialog manager's own choice at creation, which
    // hides the cues until a key is pressed.
    PostMessageW(dialog, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL),
                 0);
}

void DialogScale::Change(HWND dialog, UINT dpi, const RECT& suggested) {
    if (dpi == 0) return;
    SetWindowPos(dialog, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    HFONT font = nullptr;
    LOGFONTW logFont;
    if (dpi != baseDpi_ && templateFont_ != nullptr &&
        GetObjectW(templateFont_, sizeof logFont, &logFont) == sizeof logFont) {
        logFont.lfHeight =
            MulDiv(logFont.lfHeight, static_cast<int>(dpi), static_cast<int>(baseDpi_));
        font = CreateFontIndirectW(&logFont);
    }
    HFONT current = font_ != nullptr ? font_ : templateFont_;
    HFONT next = font != nullptr ? font : templateFont_;
    const auto at = [&](LONG value) {
        return MulDiv(value, static_cast<int>(dpi), static_cast<int>(baseDpi_));
    };
    for (int i = 0; i < count_; ++i) {
        const Place& place = places_[i];
        const RECT& r = place.rect;
        MoveWindow(place.control, at(r.left), at(r.top), at(r.right) - at(r.left),
                   at(r.bottom) - at(r.top), FALSE);
        if (current != nullptr &&
            reinterpret_cast<HFONT>(SendMessageW(place.control, WM_GETFONT, 0, 0)) == current)
            SendMessageW(place.control, WM_SETFONT, reinterpret_cast<WPARAM>(next), FALSE);
    }
    if (font_ != nullptr) DeleteObject(font_);
    font_ = font;
    dpi_ = dpi;
    SetIcons(dialog);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void DialogScale::Release(HWND dialog) {
    for (const WPARAM kind : kIconKinds) {
        HICON icon = reinterpret_cast<HICON>(SendMessageW(dialog, WM_SETICON, kind, 0));
        if (icon != nullptr) DestroyIcon(icon);
    }
    if (font_ != nullptr) {
        for (int i = 0; i < count_; ++i)
            if (reinterpret_cast<HFONT>(SendMessageW(places_[i].control, WM_GETFONT, 0, 0)) ==
                font_)
                SendMessageW(places_[i].control, WM_SETFONT,
                             reinterpret_cast<WPARAM>(templateFont_), FALSE);
        DeleteObject(font_);
        font_ = nullptr;
    }
}

void DialogScale::SetIcons(HWND dialog) {
    for (int i = 0; i < 2; ++i) {
        HICON made = LoadAppIcon(SystemMetricAt(kIconMetrics[i], dpi_));
        if (made == nullptr) continue;
        HICON old = reinterpret_cast<HICON>(
            SendMessageW(dialog, WM_SETICON, kIconKinds[i], reinterpret_cast<LPARAM>(made)));
        if (old != nullptr) DestroyIcon(old);
    }
}
