// Drives another process's windows as a person would: finds its dialogs and message
// boxes by caption, reads the texts and states of their controls, presses buttons and
// types into edit fields by control ID, and takes screenshots of what is on screen.
// Clicks are posted, not sent: a sent click can be lost after a modal box closes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace gui {

// A process started by the tests; the handle is closed (and a still running process
// ended) when the object goes.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts `program` with the command-line tail `arguments` (may be empty).
    bool Start(const std::string& program, const std::string& arguments,
               const std::string& workingFolder = "");
    // The same for a program whose path the ANSI code page cannot hold.
    bool Start(const std::wstring& program, const std::wstring& arguments);
    // The exit code, or STILL_ACTIVE (259) when it has not ended within the time.
    DWORD WaitForExit(DWORD milliseconds);
    bool Running() const;
    DWORD Id() const { return id_; }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Polls `condition` every 20 ms; true as soon as it holds, false after `milliseconds`.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds);

// Visible top-level windows of a process.
std::vector<HWND> TopWindows(DWORD processId);
// The visible top-level window of the process with exactly this caption (and class,
// when given), waiting up to `milliseconds`; null when none appears.
HWND WaitForWindow(DWORD processId, const std::string& caption, DWORD milliseconds,
                   const char* className = nullptr);
// True when no window with this caption is shown by the process for `milliseconds`.
bool NoWindowFor(DWORD processId, const std::string& caption, DWORD milliseconds);

std::string Text(HWND window);
std::string ControlText(HWND dialog, int id);
std::string ClassOf(HWND window);
bool ControlVisible(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
bool ControlChecked(HWND dialog, int id);
// A control's window rectangle relative to the dialog's client area.
RECT ControlRect(HWND dialog, int id);
// The origin of a control's client area relative to the dialog's client area.
POINT ControlClientOrigin(HWND dialog, int id);

// Types `text` into an edit control (replacing what it held).
void Type(HWND dialog, int id, const std::string& text);
// Presses a button by posting its command to the dialog (message boxes too).
void Press(HWND dialog, int id);
// Clicks a check box (toggles it and notifies its dialog).
void ClickCheckBox(HWND dialog, int id);

// A message box of the process: its caption, text, and whether its icon is shown.
struct MessageBoxInfo {
    HWND window = nullptr;
    std::string caption;
    std::string text;
    HWND owner = nullptr;
};
// Waits for a message box with this caption.
MessageBoxInfo WaitForMessageBox(DWORD processId, const std::string& caption, DWORD milliseconds);

// How many pixels of a rectangle of `window`'s client area show `colour` on screen.
int CountPixels(HWND window, const RECT& clientArea, COLORREF colour);

// Saves the screen area covered by the process's visible windows as a PNG file.
bool Screenshot(DWORD processId, const std::string& pngPath);

// Writes 24-bit pixels (rows top first, RGB) as an uncompressed PNG file.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace gui
