// The window driver of the end-to-end tests.
#include "tests/gui/gui_driver.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>

namespace gui {

std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

Process::~Process() {
    if (process_ == nullptr) return;
    if (Running()) {  // a test that failed half-way must not leave its program behind
        TerminateProcess(process_, 255);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
}

bool Process::Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder) {
    std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
    return true;
}

DWORD Process::WaitForExit(DWORD milliseconds) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0) GetExitCodeProcess(process_, &code);
    return code;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds) {
    for (const DWORD start = GetTickCount(); !condition(); Sleep(20))
        if (GetTickCount() - start > milliseconds) return false;
    return true;
}

namespace {

struct Windows {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM windows) {
    auto* w = reinterpret_cast<Windows*>(windows);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == w->processId && IsWindowVisible(window)) w->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopWindows(DWORD processId) {
    Windows windows{processId, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    return windows.found;
}

HWND WaitForWindow(DWORD processId, const std::string& caption, DWORD milliseconds, const char* className) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND w : TopWindows(processId))
                if (Text(w) == caption && (className == nullptr || ClassOf(w) == className)) found = w;
            return found != nullptr;
        },
        milliseconds);
    return found;
}

DWORD_PTR Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result);
    return result;
}

std::string Text(HWND window) {
    char buffer[4096];
    return std::string(buffer, Send(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer)));
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

POINT ControlClientOrigin(HWND dialog, int id) {
    POINT origin{0, 0};
    MapWindowPoints(GetDlgItem(dialog, id), dialog, &origin, 1);
    return origin;
}

MessageBoxInfo WaitForMessageBox(DWORD processId, const std::string& caption, DWORD milliseconds) {
    MessageBoxInfo info;
    info.window = WaitForWindow(processId, caption, milliseconds, "#32770");
    if (info.window == nullptr) return info;
    // The box's text appears once it has laid itself out.
    WaitUntil([&] { return !(info.text = ControlText(info.window, 65535)).empty(); }, 2000);
    info.owner = GetWindow(info.window, GW_OWNER);
    return info;
}

// A copy of the screen's pixels in `area`; the caller deletes it.
static HBITMAP Grab(const RECT& area) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, area.right - area.left, area.bottom - area.top);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, area.right - area.left, area.bottom - area.top, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

int CountPixels(HWND window, const RECT& clientArea, COLORREF colour) {
    RECT area = clientArea;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    HBITMAP bitmap = Grab(area);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap);
    int count = 0;
    for (int y = 0; y < area.bottom - area.top; ++y)
        for (int x = 0; x < area.right - area.left; ++x) count += GetPixel(memory, x, y) == colour;
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return count;
}

bool Screenshot(DWORD processId, const std::string& pngPath) {
    Sleep(300);  // let the windows finish painting
    RECT area{};
    for (HWND window : TopWindows(processId)) {
        RECT rect;
        GetWindowRect(window, &rect);
        UnionRect(&area, &area, &rect);
    }
    if (IsRectEmpty(&area)) return false;
    HBITMAP bitmap = Grab(area);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    bool saved = false;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        const CLSID png = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
        Gdiplus::Bitmap image(bitmap, nullptr);
        saved = image.Save(Wide(pngPath).c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    Gdiplus::GdiplusShutdown(token);
    DeleteObject(bitmap);
    return saved;
}

}  // namespace gui
