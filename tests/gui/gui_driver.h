// Drives another process's windows as a person would: finds its dialogs and message boxes (class
// #32770) by caption, reads and presses their controls by ID, types into edit fields, presses keys
// where its focus is, measures what it drew and takes screenshots. Clicks and keys are posted, not
// sent: a sent click can be lost after a modal box closes.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace gui {

// The Windows form of a host path (Wine maps the Unix root to drive Z:).
inline std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// A text in the ANSI code page as UTF-16.
inline std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
}

// A started process; one still running is ended with the object (after a test that failed
// half-way).
class Process {
public:
    ~Process() {
        if (process_ != nullptr && Running())
            TerminateProcess(process_, 255), WaitForSingleObject(process_, 5000);
        if (process_ != nullptr) CloseHandle(process_);
    }

    // Starts `program` with the command-line tail `arguments` (may be empty), in `folder`, on
    // the processors of the affinity `mask` (0: as inherited).
    bool Start(const std::wstring& program, const std::wstring& arguments,
               const std::wstring& folder = L"", DWORD_PTR mask = 0) {
        std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                            nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info))
            return false;
        process_ = info.hProcess, id_ = info.dwProcessId;
        const bool set = mask == 0 || SetProcessAffinityMask(process_, mask);
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        return set;
    }
    // The exit code, or STILL_ACTIVE (259) when it has not ended within the time.
    DWORD WaitForExit(DWORD milliseconds) {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_, &code);
        return code;
    }
    bool Running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Polls `condition` every 20 ms; true as soon as it holds, false after `milliseconds`.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds) {
    for (const DWORD start = GetTickCount(); !condition(); Sleep(20))
        if (GetTickCount() - start > milliseconds) return false;
    return true;
}

// Sends a message to another process's window: the result, or 0 when it does not answer.
inline DWORD_PTR Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result);
    return result;
}

inline std::string Text(HWND window) {
    char buffer[4096];
    return std::string(buffer,
                       Send(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer)));
}

inline std::string ClassOf(HWND window) {
    char name[256] = {};
    return std::string(name, GetClassNameA(window, name, sizeof name));
}

// Visible top-level windows of a process.
inline std::vector<HWND> TopWindows(DWORD processId) {
    std::vector<HWND> found;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, nullptr, nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == processId && IsWindowVisible(w)) found.push_back(w);
    }
    return found;
}

// The process's dialog with this caption, waiting up to `milliseconds`; null when none appears.
inline HWND WaitForDialog(DWORD processId, const std::string& caption, DWORD milliseconds) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND w : TopWindows(processId))
                found = Text(w) == caption && ClassOf(w) == "#32770" ? w : found;
            return found != nullptr;
        },
        milliseconds);
    return found;
}

inline RECT RectIn(HWND dialog, HWND control) {  // in the dialog's client coordinates
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}
inline std::string ControlText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
inline bool ControlVisible(HWND dialog, int id) {
    return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE;
}
inline bool ControlEnabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}
inline bool ControlChecked(HWND dialog, int id) {
    return Send(GetDlgItem(dialog, id), BM_GETCHECK) == BST_CHECKED;
}

// Replaces an edit's text; presses a button (of message boxes too); clicks a check box, which tells
// its dialog.
inline void Type(HWND dialog, int id, const std::string& text) {
    Send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
inline void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
inline void ClickCheckBox(HWND dialog, int id) {
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// The window with the keyboard focus in the thread of `window`.
inline HWND Focus(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus
                                                                              : nullptr;
}
// Presses a key (VK_TAB, VK_RETURN, VK_ESCAPE), or a letter with Alt (an access key), where the
// focus of `window`'s thread is.
inline void Key(HWND window, UINT key) { PostMessageA(Focus(window), WM_KEYDOWN, key, 1); }
inline void AltKey(HWND window, char letter) {
    PostMessageA(Focus(window), WM_SYSCHAR, letter, 1 | 1 << 29);
}

// A message box (or dialog, its text in control `text`) once its text is laid out; null if none
// appears.
inline HWND WaitForMessageBox(DWORD processId, const std::string& caption, DWORD milliseconds,
                              int text = 65535) {
    HWND box = WaitForDialog(processId, caption, milliseconds);
    if (box != nullptr) WaitUntil([&] { return !ControlText(box, text).empty(); }, 2000);
    return box;
}

// A copy of the screen's pixels in `area`, and `look` (may be null) run on it while selected; the
// caller deletes the copy.
inline HBITMAP Grab(const RECT& area, const std::function<void(HDC)>& look = nullptr) {
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, area.right - area.left, area.bottom - area.top);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, area.right - area.left, area.bottom - area.top, screen, area.left,
           area.top, SRCCOPY);
    if (look) look(memory);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

// The colours of a rectangle of `window`'s client area as shown on screen, row by row.
inline std::vector<COLORREF> Pixels(HWND window, RECT area) {
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    std::vector<COLORREF> pixels;
    DeleteObject(Grab(area, [&](HDC copy) {
        for (int y = 0; y < area.bottom - area.top; ++y)
            for (int x = 0; x < area.right - area.left; ++x) pixels.push_back(GetPixel(copy, x, y));
    }));
    return pixels;
}

// The size of what a window drew in its client area: the box around the pixels that differ clearly
// from its most common colour.
inline SIZE InkSize(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    const std::vector<COLORREF> pixels = Pixels(window, client);
    std::map<COLORREF, int> counts;
    for (COLORREF c : pixels) ++counts[c];
    const COLORREF back = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                              return a.second < b.second;
                          })->first;
    RECT ink{client.right, client.bottom, 0, 0};
    for (LONG i = 0; i < static_cast<LONG>(pixels.size()); ++i) {
        const COLORREF c = pixels[i];
        if (abs(GetRValue(c) - GetRValue(back)) + abs(GetGValue(c) - GetGValue(back)) +
                abs(GetBValue(c) - GetBValue(back)) >
            96)
            ink = {std::min(ink.left, i % client.right), std::min(ink.top, i / client.right),
                   std::max(ink.right, i % client.right + 1),
                   std::max(ink.bottom, i / client.right + 1)};
    }
    return SIZE{std::max<LONG>(0, ink.right - ink.left), std::max<LONG>(0, ink.bottom - ink.top)};
}

// Tells `window` that its display scale became `dpi`, as Windows does when it moves to another
// display, suggesting `rect` (screen coordinates), which is written into the window's process for
// it.
inline bool ChangeScale(const Process& process, HWND window, int dpi, const RECT& rect) {
    void* remote =
        VirtualAllocEx(process.Handle(), nullptr, sizeof rect, MEM_COMMIT, PAGE_READWRITE);
    const bool written = remote != nullptr &&
                         WriteProcessMemory(process.Handle(), remote, &rect, sizeof rect, nullptr);
    DWORD_PTR result = 0;
    const bool told =
        written &&
        SendMessageTimeoutA(window, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi),
                            reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 5000, &result);
    if (remote != nullptr) VirtualFreeEx(process.Handle(), remote, 0, MEM_RELEASE);
    return told;
}

// Saves the screen area covered by the process's visible windows as a PNG file.
inline bool Screenshot(DWORD processId, const std::string& pngPath) {
    Sleep(300);  // let the windows finish painting
    RECT area{};
    for (HWND window : TopWindows(processId)) {
        RECT rect;
        GetWindowRect(window, &rect);
        UnionRect(&area, &area, &rect);
    }
    if (IsRectEmpty(&area)) return false;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    const CLSID png = {
        0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    HBITMAP bitmap = Grab(area);
    const bool saved =
        Gdiplus::Bitmap(bitmap, nullptr).Save(Wide(pngPath).c_str(), &png, nullptr) == Gdiplus::Ok;
    Gdiplus::GdiplusShutdown(token);
    DeleteObject(bitmap);
    return saved;
}

}  // namespace gui
