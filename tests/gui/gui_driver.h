// Drives another process's windows as a person would: finds its dialogs and message
// boxes by caption, reads and presses their controls by ID, types into edit fields, and
// takes screenshots. Clicks are posted, not sent: a sent click can be lost after a
// modal box closes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace gui {

// The Windows form of a host path (Wine maps the Unix root to drive Z:); a text in the
// ANSI code page as UTF-16.
std::string WindowsPath(std::string path);
std::wstring Wide(const std::string& text);

// A started process; a still running one is ended when the object goes.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    // Starts `program` with the command-line tail `arguments` (may be empty).
    bool Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder = L"");
    bool Start(const std::string& program, const std::string& arguments, const std::string& folder = "") {
        return Start(Wide(program), Wide(arguments), Wide(folder));
    }
    // The exit code, or STILL_ACTIVE (259) when it has not ended within the time.
    DWORD WaitForExit(DWORD milliseconds);
    bool Running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    DWORD Id() const { return id_; }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Polls `condition` every 20 ms; true as soon as it holds, false after `milliseconds`.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds);

// Visible top-level windows of a process.
std::vector<HWND> TopWindows(DWORD processId);
// The process's visible top-level window with this caption (and class, when given),
// waiting up to `milliseconds`; null when none appears.
HWND WaitForWindow(DWORD processId, const std::string& caption, DWORD milliseconds,
                   const char* className = nullptr);

// Sends a message to another process's window: the result, or 0 when it does not answer.
DWORD_PTR Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::string Text(HWND window);
std::string ClassOf(HWND window);
POINT ControlClientOrigin(HWND dialog, int id);  // relative to the dialog's client area
inline std::string ControlText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
inline bool ControlVisible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
inline bool ControlEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
inline bool ControlChecked(HWND dialog, int id) { return Send(GetDlgItem(dialog, id), BM_GETCHECK) == BST_CHECKED; }

// Replaces an edit's text; presses a button (of message boxes too); clicks a check box,
// which toggles it and tells its dialog.
inline void Type(HWND dialog, int id, const std::string& text) {
    Send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
inline void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
inline void ClickCheckBox(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

struct MessageBoxInfo {
    HWND window = nullptr;
    std::string text;
    HWND owner = nullptr;
};
MessageBoxInfo WaitForMessageBox(DWORD processId, const std::string& caption, DWORD milliseconds);

// How many pixels of a rectangle of `window`'s client area show `colour` on screen.
int CountPixels(HWND window, const RECT& clientArea, COLORREF colour);
// Saves the screen area covered by the process's visible windows as a PNG file.
bool Screenshot(DWORD processId, const std::string& pngPath);

}  // namespace gui
