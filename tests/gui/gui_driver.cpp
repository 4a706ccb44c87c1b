// The window driver of the end-to-end tests.
#include "tests/gui/gui_driver.h"

#include <cstdio>
#include <cstring>

namespace gui {

Process::~Process() {
    if (process_ == nullptr) return;
    // A test that failed half-way must not leave its self-extractor behind.
    if (Running()) {
        TerminateProcess(process_, 255);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

bool Process::Start(const std::string& program, const std::string& arguments,
                    const std::string& workingFolder) {
    std::string commandLine = "\"" + program + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
    return true;
}

bool Process::Start(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
    return true;
}

DWORD Process::WaitForExit(DWORD milliseconds) {
    if (WaitForSingleObject(process_, milliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    return code;
}

bool Process::Running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > milliseconds) return false;
        Sleep(20);
    }
}

namespace {

struct EnumState {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
    auto* state = reinterpret_cast<EnumState*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == state->processId && IsWindowVisible(window)) state->windows.push_back(window);
    return TRUE;
}

HWND FindWindowOf(DWORD processId, const std::string& caption, const char* className) {
    for (HWND window : TopWindows(processId)) {
        if (Text(window) != caption) continue;
        if (className != nullptr && ClassOf(window) != className) continue;
        return window;
    }
    return nullptr;
}

}  // namespace

std::vector<HWND> TopWindows(DWORD processId) {
    EnumState state{processId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return state.windows;
}

HWND WaitForWindow(DWORD processId, const std::string& caption, DWORD milliseconds,
                   const char* className) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindWindowOf(processId, caption, className)) != nullptr; },
              milliseconds);
    return found;
}

bool NoWindowFor(DWORD processId, const std::string& caption, DWORD milliseconds) {
    return !WaitUntil([&] { return FindWindowOf(processId, caption, nullptr) != nullptr; },
                      milliseconds);
}

std::string Text(HWND window) {
    char buffer[4096];
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 2000, &length))
        return "";
    return std::string(buffer, static_cast<size_t>(length));
}

std::string ControlText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool ControlVisible(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr && IsWindowVisible(control);
}

bool ControlEnabled(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr && IsWindowEnabled(control);
}

bool ControlChecked(HWND dialog, int id) {
    DWORD_PTR state = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
    return state == BST_CHECKED;
}

RECT ControlRect(HWND dialog, int id) {
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    OffsetRect(&rect, -origin.x, -origin.y);
    return rect;
}

POINT ControlClientOrigin(HWND dialog, int id) {
    POINT control{0, 0};
    POINT origin{0, 0};
    ClientToScreen(GetDlgItem(dialog, id), &control);
    ClientToScreen(dialog, &origin);
    return POINT{control.x - origin.x, control.y - origin.y};
}

void Type(HWND dialog, int id, const std::string& text) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 2000, &ignored);
}

void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void ClickCheckBox(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

MessageBoxInfo WaitForMessageBox(DWORD processId, const std::string& caption, DWORD milliseconds) {
    MessageBoxInfo info;
    info.window = WaitForWindow(processId, caption, milliseconds, "#32770");
    if (info.window == nullptr) return info;
    info.caption = caption;
    // The box's text appears once it has laid itself out.
    WaitUntil([&] { return !(info.text = ControlText(info.window, 65535)).empty(); }, 2000);
    info.owner = GetWindow(info.window, GW_OWNER);
    return info;
}

namespace {

// The screen's pixels in `area` as 0x00RRGGBB values, rows top first.
bool CaptureScreen(const RECT& area, std::vector<uint32_t>* pixels) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    pixels->assign(static_cast<size_t>(width) * height, 0);
    const int rows = GetDIBits(memory, bitmap, 0, height, pixels->data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    for (uint32_t& p : *pixels) p &= 0x00FFFFFFu;
    return rows == height;
}

}  // namespace

int CountPixels(HWND window, const RECT& clientArea, COLORREF colour) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT area = clientArea;
    OffsetRect(&area, origin.x, origin.y);
    std::vector<uint32_t> pixels;
    if (area.right <= area.left || area.bottom <= area.top || !CaptureScreen(area, &pixels)) return 0;
    const uint32_t wanted = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    int count = 0;
    for (uint32_t p : pixels) count += p == wanted;
    return count;
}

bool Screenshot(DWORD processId, const std::string& pngPath) {
    Sleep(300);  // let the windows finish painting
    RECT area{};
    bool any = false;
    for (HWND window : TopWindows(processId)) {
        RECT rect;
        GetWindowRect(window, &rect);
        if (!any) area = rect;
        else UnionRect(&area, &area, &rect);
        any = true;
    }
    std::vector<uint32_t> pixels;
    if (!any || !CaptureScreen(area, &pixels)) return false;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    std::vector<uint8_t> rgb(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        rgb[3 * i] = static_cast<uint8_t>(pixels[i] >> 16);
        rgb[3 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
        rgb[3 * i + 2] = static_cast<uint8_t>(pixels[i]);
    }
    return WritePng(pngPath, width, height, rgb);
}

namespace {

uint32_t Crc(const uint8_t* data, size_t length, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBe32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    PutBe32(out, Crc(typed.data(), typed.size()));
}

}  // namespace

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
    // Scanlines with filter byte 0, wrapped in a zlib stream of stored blocks.
    std::vector<uint8_t> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const uint8_t* row = &rgb[static_cast<size_t>(y) * width * 3];
        raw.insert(raw.end(), row, row + static_cast<size_t>(width) * 3);
    }
    std::vector<uint8_t> zlib = {0x78, 0x01};
    for (size_t pos = 0; pos < raw.size() || raw.empty();) {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        zlib.push_back(pos + n == raw.size() ? 1 : 0);
        zlib.push_back(static_cast<uint8_t>(n));
        zlib.push_back(static_cast<uint8_t>(n >> 8));
        zlib.push_back(static_cast<uint8_t>(~n));
        zlib.push_back(static_cast<uint8_t>(~n >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<long>(pos), raw.begin() + static_cast<long>(pos + n));
        pos += n;
        if (raw.empty()) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(zlib, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBe32(header, static_cast<uint32_t>(width));
    PutBe32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", zlib);
    Chunk(png, "IEND", {});
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace gui
