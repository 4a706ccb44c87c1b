// The wizard (resource 130): one modal dialog that steps through the Comments, Select
// Destination and Extracting pages by showing, hiding and creating controls, under a
// white header band with the page's title and subtitle.
#pragma once

#include <windows.h>

#include "library/vorx.h"

struct ExtractWorker;

struct WizardDialog {
    int Page;          // 0 Comments, 1 Select Destination, 2 Extracting
    HWND CommentView;  // the read-only view of the Comments page, or null
    HWND Window;       // the dialog
    ExtractWorker* Worker;
    vorx_Stream* Archive;

    // Runs the modal dialog; returns its result (1 ended by the worker, 2 cancelled,
    // -1 when it could not be created).
    INT_PTR Run(HINSTANCE instance, vorx_Stream* archive, ExtractWorker& worker);
    void ShowPage(HWND dialog);
    void NextPage(HWND dialog);
    void PaintHeader(HWND dialog, HDC dc);
    static void GetPageTexts(int page, const char** title, const char** subtitle);
};

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void EnableControl(HWND dialog, int id, BOOL enable);
void ShowControl(HWND dialog, int id, int command);
// Offset of the control's client-area origin from the dialog's client-area origin.
POINT GetControlOffset(HWND dialog, int id);
