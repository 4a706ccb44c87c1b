// The wizard (resource 130): one modal dialog that steps through the Comments, Select
// Destination and Extracting pages by showing, hiding and creating controls, under a
// white header band with the page's title, subtitle and picture. Its fonts, picture and
// the places computed here follow the window's display scale.
#pragma once

#include <windows.h>

#include "app/dialog_scale.h"
#include "library/vorx.h"

struct ExtractWorker;

struct WizardDialog {
    int Page;          // 0 Comments, 1 Select Destination, 2 Extracting
    HWND CommentView;  // the read-only view of the Comments page, or null
    HWND Window;       // the dialog
    ExtractWorker* Worker;
    vorx_Stream* Archive;
    DialogScale Scale;
    HFONT TitleFont;  // at Scale.Dpi(), like the two below; null when not made
    HFONT SubtitleFont;
    HFONT CommentFont;
    HBITMAP Picture;  // the header picture, PictureSide pixels square, or null
    int PictureSide;

    // Runs the modal dialog; returns its result (1 ended by the worker, 2 cancelled,
    // -1 when it could not be created).
    INT_PTR Run(HINSTANCE instance, vorx_Stream* archive, ExtractWorker& worker);
    void ShowPage(HWND dialog);
    void NextPage(HWND dialog);
    // Fonts and the places computed in code for the current scale.
    void ApplyScale(HWND dialog);
    void PaintHeader(HWND dialog, HDC dc);
    void DrawPicture(const DRAWITEMSTRUCT& item);
    void Release(HWND dialog);
    static void GetPageTexts(int page, const char** title, const char** subtitle);
};

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void EnableControl(HWND dialog, int id, BOOL enable);
void ShowControl(HWND dialog, int id, int command);
// Offset of the control's client-area origin from the dialog's client-area origin.
POINT GetControlOffset(HWND dialog, int id);
