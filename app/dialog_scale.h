// The dialogs at every display scale. Sizes that the code chooses are given for 96 DPI
// (100 %) and scaled to the window's DPI; the template's controls and font are laid out
// again when Windows moves a dialog to a display of another scale (WM_DPICHANGED).
// Also what both dialogs share as windows: their icons, the keyboard cues and a place on
// the screen.
#pragma once

#include <windows.h>

constexpr UINT kBaseDpi = 96;

// The DPI `window` is shown at: GetDpiForWindow where the system has it, the system's
// DPI otherwise.
UINT WindowDpi(HWND window);

// `pixels` at 96 DPI, at `dpi`.
inline int ScaledPixels(int pixels, UINT dpi) {
    return MulDiv(pixels, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}

// A font whose cell is `height` pixels high at 96 DPI, made for `dpi`; null on failure.
HFONT CreateScaledFont(int height, int weight, const wchar_t* face, UINT dpi);

// The application's icon as a picture `side` pixels square over white, made from its
// largest image by area averaging, so that it is smooth at every size; null on failure.
// The caller deletes it.
HBITMAP CreateIconPicture(int side);

// A control's rectangle in its dialog's client coordinates.
RECT ControlRect(HWND dialog, int id);

// One dialog's scale. The template's controls and its font are recorded as laid out at
// the first DPI and laid out from that record at every other, so that going back and
// forth between displays never accumulates rounding.
class DialogScale {
public:
    // At WM_INITDIALOG: records the controls, leaves DPI changes to the dialog, gives it
    // its icons, keeps its keyboard cues (focus rectangle, access keys) visible and moves
    // it wholly onto its display (a dialog opened at the mouse pointer may lie outside).
    void Init(HWND dialog);
    // At WM_DPICHANGED: the dialog takes the rectangle Windows suggests, the recorded
    // controls their places and the dialog font at `dpi`, the icons their new sizes.
    void Change(HWND dialog, UINT dpi, const RECT& suggested);
    // At WM_DESTROY: frees the font and icons made here.
    void Release(HWND dialog);
    UINT Dpi() const { return dpi_; }

private:
    struct Place {
        HWND control;
        RECT rect;  // in client coordinates at baseDpi_
    };
    static constexpr int kMaxPlaces = 16;

    void SetIcons(HWND dialog);

    Place places_[kMaxPlaces];
    int count_;
    UINT baseDpi_;
    UINT dpi_;
    HFONT templateFont_;  // the dialog manager's, from the template
    HFONT font_;          // made here for dpi_, or null at baseDpi_
};

// The object behind a dialog procedure, a dialog with a DialogScale `Scale`: given to
// DialogBoxParam, kept with the window at WM_INITDIALOG (its scale recorded then) and
// read back for every later message; null for the messages before WM_INITDIALOG.
template <typename Dialog>
Dialog* DialogObject(HWND dialog, UINT message, LPARAM lParam) {
    if (message != WM_INITDIALOG)
        return reinterpret_cast<Dialog*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
    auto* self = reinterpret_cast<Dialog*>(lParam);
    self->Scale.Init(dialog);
    return self;
}
