// End-to-end runs of the self-extractor under Wine, driven as a person would: its windows are read
// and pressed, its boxes answered, its files and exit code checked; a screenshot of every page and
// box is saved in build/.../gui-screenshots/.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "library/vorx.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "writer/sfx_maker.h"

// Damage and passwords are set by naming only the fields they change.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

namespace fs = std::filesystem;

// The Windows form of a host path (Wine maps the Unix root to drive Z:).
std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// A text in the ANSI code page as UTF-16.
std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
}

// A started process; one still running is ended with the object (after a test that failed).
struct Process {
    ~Process() {
        if (handle != nullptr && WaitForExit(0) == STILL_ACTIVE)
            TerminateProcess(handle, 255), WaitForExit(5000);
        if (handle != nullptr) CloseHandle(handle);
    }
    // Starts `program` with the command-line tail `arguments` (may be empty), in `folder`, on
    // the processors of the affinity `mask` (0: as inherited).
    bool Start(const std::wstring& program, const std::wstring& arguments,
               const std::wstring& folder = L"", DWORD_PTR mask = 0) {
        std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        STARTUPINFOW startup{.cb = sizeof startup};
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                            nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info))
            return false;
        handle = info.hProcess, id = info.dwProcessId;
        const bool set = mask == 0 || SetProcessAffinityMask(handle, mask);
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        return set;
    }
    // The exit code, or STILL_ACTIVE (259) when it has not ended within the time.
    DWORD WaitForExit(DWORD milliseconds) const {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(handle, milliseconds) == WAIT_OBJECT_0)
            GetExitCodeProcess(handle, &code);
        return code;
    }
    HANDLE handle = nullptr;
    DWORD id = 0;
};

// Polls `condition` every 20 ms; true as soon as it holds, false after `milliseconds`.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds) {
    for (const DWORD start = GetTickCount(); !condition(); Sleep(20))
        if (GetTickCount() - start > milliseconds) return false;
    return true;
}

// Sends a message to another process's window: the result, or 0 when it does not answer.
DWORD_PTR Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result);
    return result;
}
std::string Text(HWND window) {
    char buffer[4096];
    return {buffer, Send(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer))};
}
std::string ControlText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
bool Visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool Checked(HWND dialog, int id) {
    return Send(GetDlgItem(dialog, id), BM_GETCHECK) == BST_CHECKED;
}
RECT RectIn(HWND dialog, HWND control) {  // in the dialog's client coordinates
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Visible top-level windows of a process.
std::vector<HWND> TopWindows(DWORD processId) {
    std::vector<HWND> found;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, nullptr, nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == processId && IsWindowVisible(w)) found.push_back(w);
    }
    return found;
}

// The process's dialog or message box (#32770) with this caption, once the text of its control
// `text` (0: none) is laid out, waiting up to `milliseconds`; null when none appears.
HWND WaitForBox(DWORD processId, const std::string& caption, DWORD milliseconds, int text = 65535) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND w : TopWindows(processId))
                found = Text(w) == caption && GetClassLongA(w, GCW_ATOM) == 32770 ? w : found;
            return found != nullptr;
        },
        milliseconds);
    if (found != nullptr && text != 0)
        WaitUntil([&] { return !ControlText(found, text).empty(); }, 2000);
    return found;
}

// Clicks and keys are posted, not sent: a sent click can be lost after a modal box closes. Press
// works on message boxes too; ClickCheckBox tells the check box's dialog.
void Type(HWND dialog, int id, const std::string& text) {
    Send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
void ClickCheckBox(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// The window with the keyboard focus in the thread of `window`.
HWND Focus(HWND window) {
    GUITHREADINFO info{.cbSize = sizeof info};
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus
                                                                              : nullptr;
}
// Presses a key, or a letter with Alt (an access key), where the focus of `window`'s thread is.
void Key(HWND window, UINT key) { PostMessageA(Focus(window), WM_KEYDOWN, key, 1); }
void AltKey(HWND window, char letter) {
    PostMessageA(Focus(window), WM_SYSCHAR, letter, 1 | 1 << 29);
}

// A copy of the screen's pixels in `area`, and `look` (may be null) run on it while selected; the
// caller deletes the copy.
HBITMAP Grab(const RECT& area, const std::function<void(HDC)>& look = nullptr) {
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
std::vector<COLORREF> Pixels(HWND window, RECT area) {
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
SIZE InkSize(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    const std::vector<COLORREF> pixels = Pixels(window, client);
    std::map<COLORREF, int> counts;
    for (COLORREF c : pixels) ++counts[c];
    const COLORREF back =
        std::ranges::max_element(counts, {}, [](auto& c) { return c.second; })->first;
    RECT ink{};
    for (LONG i = 0; i < static_cast<LONG>(pixels.size()); ++i) {
        const COLORREF c = pixels[i];
        const RECT dot{i % client.right, i / client.right, i % client.right + 1,
                       i / client.right + 1};
        const int off = abs(GetRValue(c) - GetRValue(back)) + abs(GetGValue(c) - GetGValue(back)) +
                        abs(GetBValue(c) - GetBValue(back));
        if (off > 96) UnionRect(&ink, &ink, &dot);
    }
    return SIZE{ink.right - ink.left, ink.bottom - ink.top};
}

// Tells `window` that its display scale became `dpi`, as Windows does when it moves to another
// display, suggesting `rect` (screen coordinates), which is written into its process for it.
bool ChangeScale(const Process& process, HWND window, int dpi, const RECT& rect) {
    void* remote = VirtualAllocEx(process.handle, nullptr, sizeof rect, MEM_COMMIT, PAGE_READWRITE);
    DWORD_PTR result = 0;
    const bool told =
        remote != nullptr &&
        WriteProcessMemory(process.handle, remote, &rect, sizeof rect, nullptr) &&
        SendMessageTimeoutA(window, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi),
                            reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 5000, &result);
    if (remote != nullptr) VirtualFreeEx(process.handle, remote, 0, MEM_RELEASE);
    return told;
}

// Saves the screen area covered by the process's visible windows as a PNG file.
bool Screenshot(DWORD processId, const std::string& pngPath) {
    Sleep(300);  // let the windows finish painting
    RECT area{}, rect;
    for (HWND window : TopWindows(processId)) {
        GetWindowRect(window, &rect);
        UnionRect(&area, &area, &rect);
    }
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (IsRectEmpty(&area) || Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return false;
    const CLSID png = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0, 0, 0xF8, 0x1E, 0xF3, 0x2E}};
    HBITMAP bitmap = Grab(area);
    const bool saved =
        Gdiplus::Bitmap(bitmap, nullptr).Save(Wide(pngPath).c_str(), &png, nullptr) == Gdiplus::Ok;
    Gdiplus::GdiplusShutdown(token);
    DeleteObject(bitmap);
    return saved;
}

constexpr DWORD kAppear = 20000;   // ms for a window to appear
constexpr DWORD kFinish = 120000;  // ms for a run to end
constexpr char kPasswordCaption[] = "Enter password";
constexpr int kNext = 1, kCancel = 2, kDestination = 1000, kBrowse = 1002, kOverwriteAll = 1003,
              kProgress = 1004, kStatus = 1006, kTitle = 1010, kSubtitle = 1011, kPicture = 1012,
              kCommentView = 7000;                                     // the wizard's controls
constexpr int kPasswordEdit = 1035, kRemember = 1033, kPrompt = 1008;  // the password dialog's

// A whole file, by a wide path: names under Wine may lie outside the ANSI code page.
std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Words(size_t length, uint32_t seed) {
    const vorx::Bytes bytes = vorx::test::WordText(length, seed);
    return {bytes.begin(), bytes.end()};
}

// Runs a host program on host paths until `done` holds (Wine does not wait for it); false if never.
bool Host(const std::string& program, std::string arguments, std::vector<std::string> paths,
          auto done) {
    for (std::string& path : paths) {
        std::replace(path.begin(), path.end(), '\\', '/');
        arguments += " \"" + path.substr(path.rfind("Z:", 0) == 0 ? 2 : 0) + "\"";
    }
    Process process;
    return process.Start(Wide(program), Wide(arguments)) && WaitUntil(done, 5000);
}

// Removes a folder; Wine's removal stops at links an earlier run left, the host's does not.
bool Remove(const std::string& folder) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return !fs::exists(folder) ||
           Host("/bin/rm", "-rf", {folder}, [&] { return !fs::exists(folder); });
}

const std::optional<std::string> no;  // a file that is absent
constexpr size_t kPacked = 0;         // an entry compressed in 256 KiB blocks
struct Entry {
    std::string name, data;
    std::optional<std::string> password = std::nullopt;
    size_t chunk = vorx::kDefaultChunkSize;  // bytes per stored block, or kPacked
    vorx::test::RecordOverrides overrides = {};
};

// A message box, or the password dialog (with what is typed into it and its remember box: 0
// unticked, 1 unticked and clicked, 2 ticked, 3 ticked and clicked), and its answer; a text "" is
// only compared between the runs on one processor and on all.
enum class Owner { None, Dialog, Any };  // Dialog: the wizard, or the password dialog shown last
struct Box {
    const char* caption;
    std::string text;  // "%OUT%" stands for out_
    int button;
    Owner owner = Owner::Any;
    const char* typed = nullptr;
    int tick = 0;
};
constexpr char kArchivePrompt[] =
    "This archive is protected, please enter the password for it below";
constexpr char kFilePrompt[] =
    "This file is protected through encryption, please enter the password for the file below";

std::string Error(vorx_Error code) { return vorx_GetErrorString(code); }
std::string Ask(const std::string& name) {
    return "File %OUT%" + name + " exists already, ovewrite it?";
}
std::string NotStarted(std::string run) {
    return "Nothing was started: \"" + run + "\" names no file that was extracted.";
}

// What a run showed and left, line by line: each box in order, every file with its size, a hash of
// its bytes and its time, the exit code.
using Seen = std::vector<std::string>;

// What is in a folder: no temporary of an extraction is left.
size_t ExpectNoTemporaries(const std::string& folder) {
    size_t count = 0;
    for (const auto& item : fs::directory_iterator(folder)) {
        EXPECT_NE(item.path().filename().string().rfind("~vx", 0), 0u) << "left: " << item.path();
        ++count;
    }
    return count;
}

DWORD_PTR Bar(HWND wizard, UINT message, WPARAM w = 0) {
    return Send(GetDlgItem(wizard, kProgress), message, w);
}

// One scripted run: the archive, files in the destination beforehand, how it starts, the
// boxes it shows in turn with their answers, the exit code and what it leaves.
struct Scripted {
    const char* label;
    std::vector<Entry> entries;  // none: the plain stub, without an archive
    std::string runAfter;
    std::map<std::string, std::string> before;
    const char* tail;  // null: the wizard, Next pressed on its destination page
    std::vector<Box> boxes;
    DWORD code;
    std::map<std::string, std::optional<std::string>> after;  // content, or absent
    vorx::test::DamagedDirectory directory = {};
    bool stopsOpen = false;  // the wizard stays open after the boxes, until Cancel
    bool links = false;      // links to outside (..\\outside) planted first, overwrite-all ticked
    const char* comment = nullptr;   // the comment page's text, Next pressed there
    int pressed = kNext;             // on the destination page
    size_t early = 0;                // boxes answered before the wizard shows
    bool wide = false;               // the destination expands to a folder outside the code page
    const char* cancelAt = nullptr;  // wizard: Cancel once this file is being extracted
    bool fullDisk = false;  // the destination is a small file system of its own; exit 6 or 15
};

class SelfExtractor : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        name_ = std::string(info->test_suite_name()) + "-" + info->name();
        dir_ = WindowsPath(VORX_GUI_WORK) + "\\" + name_;
        shots_ = WindowsPath(VORX_GUI_SHOTS) + "\\" + name_ + "-";
        out_ = dir_ + "\\out dir\\";
        ASSERT_TRUE(Remove(dir_)) << dir_;
        fs::create_directories(dir_);
        fs::create_directories(WindowsPath(VORX_GUI_SHOTS));
        SetEnvironmentVariableA("VORX_GUI_TARGET", dir_.c_str());
    }

    std::string Path(const std::string& relative) const { return dir_ + "\\" + relative; }

    // Writes the self-extractor `file` from the stub, the configuration and the entries (hostile
    // names are part of the tests).
    void Make(const std::string& file, const vorx::SfxConfig& config,
              const std::vector<Entry>& entries,
              const vorx::test::DamagedDirectory& directory = {}) {
        vorx::test::TestArchive archive{.directory = directory};
        std::string error;
        ASSERT_TRUE(
            vorx::PrepareStub(WindowsPath(VORX_STUB).c_str(), config, &archive.carrier, &error))
            << error;
        for (const Entry& e : entries) {
            auto& entry = archive.entries.emplace_back(e.name, vorx::test::ToBytes(e.data));
            entry.overrides = e.overrides;
            entry.time = 1700000000;
            entry.password = e.password;
            entry.encoder = e.chunk == kPacked ? vorx::test::PackingEncoder(256 << 10)
                                               : vorx::StoredBlockEncoder(e.chunk);
        }
        vorx::test::WriteArchive(Path(file), archive);
    }

    // Saves a screenshot of the process's windows as <suite>-<test>-<page>.png in gui-screenshots/.
    void Shot(const Process& process, const std::string& page) {
        EXPECT_TRUE(Screenshot(process.id, shots_ + page + ".png")) << shots_ + page;
    }

    // The wizard, once it shows the page of this control; a failure and null when it does not.
    HWND WaitForPage(const Process& process, int control) {
        HWND wizard = WaitForBox(process.id, "Self Extracting Archive", kAppear, 0);
        if (WaitUntil([&] { return Visible(wizard, control); }, kAppear)) return wizard;
        ADD_FAILURE() << "the wizard did not show the page of control " << control;
        return nullptr;
    }

    // Checks the box, records it in `seen`, saves its picture (unless `shot` is empty), presses
    // its button and waits for it to go; a short password keeps the dialog open. What owns the
    // next box: the password dialog once shown, or `dialog`.
    HWND Answer(const Process& process, const Box& box, HWND dialog, const std::string& shot,
                Seen* seen = nullptr) {
        const bool prompt = box.typed != nullptr;
        const int textId = prompt ? kPrompt : 65535;
        HWND window = WaitForBox(process.id, box.caption, kAppear, textId);
        if (window == nullptr) {
            ADD_FAILURE() << "no window \"" << box.caption << "\"";
            return dialog;
        }
        std::string text = box.text;
        if (text.find("%OUT%") != std::string::npos) text.replace(text.find("%OUT%"), 5, out_);
        const std::string shown = ControlText(window, textId);
        EXPECT_TRUE(text.empty() || shown == text) << shown;
        if (seen) seen->push_back(std::string(box.caption) + ": " + shown);
        const HWND owner = box.owner == Owner::Dialog ? dialog : nullptr;
        EXPECT_TRUE(box.owner == Owner::Any || GetWindow(window, GW_OWNER) == owner)
            << "owner of " << box.caption;
        if (prompt) {
            EXPECT_EQ(Checked(window, kRemember), box.tick >= 2) << box.typed;
            Type(window, kPasswordEdit, box.typed);
            if (box.tick % 2 == 1) ClickCheckBox(window, kRemember);
        }
        if (!shot.empty()) Shot(process, shot);
        Press(window, box.button);
        if (prompt && box.button == IDOK && std::strlen(box.typed) < 6) return window;
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }, kAppear));
        return prompt ? nullptr : dialog;
    }

    // Plants what the row puts in the destination: files dated 2017, links to ..\outside (Wine
    // has no call that makes a symbolic link, and shows a host one as a reparse point).
    void Plant(const Scripted& r) {
        for (const auto& [name, data] : r.before) {
            fs::create_directories(fs::path(out_ + name).parent_path());
            vorx::test::WriteFile(out_ + name, data);
            const int fd = platform::FileOpen((out_ + name).c_str(), platform::kOpenReadWrite);
            EXPECT_TRUE(platform::SetFileTimesOf(fd, 1500000000, 1500000000));
            platform::FileClose(fd);
        }
        if (!r.links) return;
        fs::create_directories(out_);
        EXPECT_TRUE(CreateHardLinkA((out_ + "hard.txt").c_str(), Path("outside\\hard.txt").c_str(),
                                    nullptr));
        for (const auto& [target, link] : {std::pair{Path("outside\\secret.txt"), "filelink.txt"},
                                           std::pair{Path("outside"), "folderlink"}})
            EXPECT_TRUE(Host("/bin/ln", "-sfn", {target, out_ + link}, [&] {
                return GetFileAttributesA((out_ + link).c_str()) != INVALID_FILE_ATTRIBUTES;
            }));
    }

    // The run with the affinity `mask` (0: every processor); what it showed and left.
    Seen Once(const Scripted& r, DWORD_PTR mask) {
        Seen seen;
        EXPECT_TRUE(Remove(out_));
        if (r.fullDisk && !(mounted_ = Mount(true))) return seen;
        Plant(r);
        Process process;
        EXPECT_TRUE(
            process.Start(Wide(Path("setup.exe")), Wide(r.tail ? r.tail : ""), Wide(dir_), mask));
        HWND wizard = nullptr, owner = nullptr;
        size_t box = 0;
        const auto answer = [&] {  // pictures on every processor only
            const std::string shot = mask == 0 ? r.label + std::to_string(box) : "";
            owner = Answer(process, r.boxes[box], owner, shot, &seen);
        };
        for (; box < r.early; ++box) answer();
        if (r.comment) {
            wizard = WaitForPage(process, kCommentView);
            EXPECT_EQ(ControlText(wizard, kCommentView), r.comment);
            Press(wizard, kNext);
        }
        if (r.tail == nullptr) {
            wizard = WaitForPage(process, kDestination);
            EXPECT_EQ(ControlText(wizard, kDestination), r.wide ? "" : out_)
                << "never approximated";
            if (r.links) ClickCheckBox(wizard, kOverwriteAll);  // before Next: both are posted
            Press(wizard, r.pressed);
        }
        if (r.cancelAt) {  // its bar on the way
            const std::string current = std::string("Current file: ") + r.cancelAt;
            EXPECT_TRUE(
                WaitUntil([&] { return ControlText(wizard, kStatus) == current; }, kFinish));
            EXPECT_TRUE(WaitUntil([&] { return Bar(wizard, PBM_GETPOS) >= 5; }, kFinish));
            Press(wizard, kCancel);
        }
        for (owner = wizard ? wizard : owner; box < r.boxes.size(); ++box) answer();
        if (r.stopsOpen) {
            EXPECT_EQ(WaitForBox(process.id, "Error extracting", 500), nullptr);
            EXPECT_TRUE(Visible(wizard, kProgress)) << "the wizard stays on its last page";
            Press(wizard, kCancel);  // the worker has ended: no question
        }
        if (r.tail && r.tail[0] && r.boxes.empty()) {  // a box would wait for a person
            const auto shown = [&] { return !TopWindows(process.id).empty(); };
            WaitUntil([&] { return process.WaitForExit(0) != STILL_ACTIVE || shown(); }, kFinish);
            EXPECT_FALSE(shown()) << "a window was shown";
        }
        const DWORD code = process.WaitForExit(kFinish);
        EXPECT_TRUE(code == r.code || (r.fullDisk && code == vorx_WriteFailed))
            << code << " (259: still running)";
        for (const auto& [name, data] : r.after)
            EXPECT_EQ(fs::exists(out_ + name) ? ReadFile(out_ + name) : "<absent>",
                      data.value_or("<absent>"))
                << name;
        ExpectNoTemporaries(fs::exists(out_) ? out_ : dir_);
        std::set<std::string> files;
        for (const auto& item : fs::recursive_directory_iterator(out_, ignored_)) {
            if (!item.is_regular_file() || item.is_symlink()) continue;
            const std::string path = item.path().string(), bytes = ReadFile(path);
            // A time later than the archive's is the time of this run (ran.txt): -1.
            const int64_t time = vorx::test::ModificationTime(path);
            files.insert(path.substr(out_.size()) + ": " + std::to_string(bytes.size()) +
                         " bytes, hash " + std::to_string(std::hash<std::string>{}(bytes)) +
                         ", time " + std::to_string(time > 1700000000 ? -1 : time));
        }
        seen.insert(seen.end(), files.begin(), files.end());
        seen.push_back("exit " + std::to_string(code));
        EXPECT_TRUE(!r.fullDisk || Mount(false));
        // Beside the destination: the self-extractor and, for the links, the folder they lead to.
        std::set<std::string> beside{"setup.exe", "out dir"};
        if (r.links) beside.insert("outside");
        for (const auto& item : fs::directory_iterator(dir_))
            EXPECT_EQ(beside.count(item.path().filename().string()), 1u) << item.path();
        EXPECT_TRUE(!r.links || ExpectNoTemporaries(Path("outside")) == 2u)
            << "written through a link";
        return seen;
    }

    // The run on one processor (no decoding thread starts) and on every one: each as the row says,
    // and both alike (the same boxes, files, times and exit code).
    void Run(const std::vector<Scripted>& runs) {
        for (const Scripted& r : runs) {
            SCOPED_TRACE(r.label);
            // The runtime's copy fails on an existing file.
            fs::remove(Path("setup.exe"));
            if (r.entries.empty()) fs::copy_file(WindowsPath(VORX_STUB), Path("setup.exe"));
            const char* to = r.wide ? "%VORX_GUI_WIDE%\\escaped\\" : "%VORX_GUI_TARGET%\\out dir\\";
            if (!r.entries.empty()) Make("setup.exe", {to, r.runAfter}, r.entries, r.directory);
            const Seen one = Once(r, 1);
            if (!mounted_) GTEST_SKIP() << "no small file system can be mounted here: no full disk";
            const Seen all = Once(r, 0);
            EXPECT_EQ(one, all) << "the run on one processor, then on every one";
        }
    }

    // Mounts (or unmounts) a small file system at the destination from the host, where that
    // is allowed; Wine does not wait for a host program: the volume's size tells. The ended run's
    // Wine process may hold the volume a moment longer: unmounting is tried again.
    bool Mount(bool on) {
        fs::create_directories(out_);
        for (int tries = on ? 1 : 3; tries > 0; --tries) {
            if (Host(on ? "/bin/mount" : "/bin/umount", on ? "-t tmpfs -o size=3m tmpfs" : "",
                     {out_.substr(0, out_.size() - 1)}, [&] {
                         ULARGE_INTEGER available{}, total{}, free{};
                         GetDiskFreeSpaceExA(out_.c_str(), &available, &total, &free);
                         return (total.QuadPart <= (3u << 20)) == on;
                     }))
                return true;
        }
        return false;
    }

    std::string name_, dir_, out_, shots_;
    bool mounted_ = true;
    std::error_code ignored_;
};

TEST_F(SelfExtractor, QuietAndSilent) {
    const Entry bad{"bad.txt", "bad data", {}, vorx::kDefaultChunkSize, {.crc32 = 0x12345678}};
    std::string blocks(4096, '\0');  // each 16-byte block its own, so a misplaced one shows
    for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<char>(i / 16 * 7);
    constexpr size_t kBig = 9 << 20;  // decoded block by block, side by side
    const std::string big = Words(kBig, 2);
    const std::string corrupt = Error(vorx_CorruptArchive);
    // clang-format off
    Run({
        {"quiet", {{"$comments$", "not shown"}, {"one.txt", "1"}, {"sub\\two.txt", "2"},
                   {"blocks", blocks, {}, 16}}, "", {}, "/Q", {}, 0,
         {{"one.txt", "1"}, {"sub\\two.txt", "2"}, {"$comments$", no}, {"blocks", blocks}}},
        {"quiet-failed-entry", {{"good.txt", "good"}, bad, {"never.exe", "x"}}, "never.exe",
         {{"bad.txt", "old"}}, "/q",
         {{"Overwrite", Ask("bad.txt"), IDYES},
          {"Error extracting", Error(vorx_CrcMismatch), IDOK, Owner::None},
          {"Error", NotStarted("never.exe"), IDOK}},
         9, {{"good.txt", "good"}, {"bad.txt", "old"}, {"never.exe", no}}},
        {"quiet-crc-large", {{"good.txt", Words(3000, 1), {}, kPacked},
                             {"big.bin", big, {}, kPacked},
                             {"bad.bin", Words(kBig, 3), {}, kPacked, {.crc32 = 1}},
                             {"never.txt", "x"}},
         "", {}, "/q", {{"Error extracting", Error(vorx_CrcMismatch), IDOK}}, 9,
         {{"big.bin", big}, {"bad.bin", no}, {"never.txt", no}}},
        // Blocks that produce fewer bytes than the record declares: damaged, nothing written.
        {"quiet-short", {{"good.txt", "good"},
                         {"short.txt", Words(3000, 2), {}, kPacked, {.uncompressedSize = 3001}}},
         "", {}, "/q", {{"Error extracting", corrupt, IDOK}}, 3,
         {{"good.txt", "good"}, {"short.txt", no}}},
        {"quiet-short-large", {{"short.bin", big, {}, kPacked, {.uncompressedSize = kBig + 1}}}, "",
         {}, "/q", {{"Error extracting", corrupt, IDOK}}, 3, {{"short.bin", no}}},
        // The second entry of one name would replace the first one's file: refused (the archive
        // is damaged), never asked about as another file.
        {"quiet-twice", {{"dup.txt", "first"}, {"dup.txt", "second", {}, kPacked, {.crc32 = 2}}},
         "", {}, "/q", {{"Error extracting", "Not extracted: %OUT%dup.txt would replace the file "
                         "of an earlier entry of the same name.", IDOK}},
         3, {{"dup.txt", "first"}}},
        // The longest name an entry may have (239 bytes), in a folder: no path is cut short.
        {"quiet-long-name", {{"d\\" + std::string(237, 'n'), "long"}}, "", {}, "/q", {}, 0,
         {{"d\\" + std::string(237, 'n'), "long"}}},
        // An entry that cannot be read while the entries are listed (its name longer than any
        // the names table gives back) ends the run there.
        {"quiet-enumeration-error", {{"first.txt", "1"}, {std::string(255, 'n'), "x"},
                                     {"last.txt", "3"}}, "", {}, "/q",
         {{"Archive Enum Error", Error(vorx_NotFound), IDOK}}, 4,
         {{"first.txt", "1"}, {"last.txt", no}}},
        // Overwrite questions: Yes, then Cancel: nothing after it is written. A box that gives
        // none of its answers (OK, which it does not have) keeps the file, and exit code 5 tells.
        {"quiet-overwrite-cancel", {{"a.txt", "new"}, {"b.txt", "new"}, {"c.txt", "new"},
                                    {"big.bin", big}, {"d.txt", "d"}},
         "", {{"a.txt", "old"}, {"c.txt", "old"}}, "/q",
         {{"Overwrite", Ask("a.txt"), IDYES}, {"Overwrite", Ask("c.txt"), IDCANCEL}}, 2,
         {{"a.txt", "new"}, {"b.txt", "new"}, {"c.txt", "old"}, {"big.bin", no}}},
        {"quiet-no-answer", {{"a.txt", "new"}, {"b.txt", "new"}}, "", {{"a.txt", "old"}}, "/q",
         {{"Overwrite", Ask("a.txt"), IDOK}}, 5, {{"a.txt", "old"}, {"b.txt", "new"}}},
        // "/q /s" shows no window whatever happens: the exit code alone tells.
        {"silent", {{"a.txt", "a"}, {"sub\\b.txt", "b"}}, "", {{"kept.txt", "old"}}, "/q /s", {},
         0, {{"a.txt", "a"}, {"sub\\b.txt", "b"}, {"kept.txt", "old"}}},
        {"silent-damaged", {{"a.txt", "a"}, bad, {"c.txt", "c"}}, "", {}, "/Q /S", {}, 9,
         {{"a.txt", "a"}, {"c.txt", no}}},
        {"silent-names-locked", {{"a.txt", "a"}}, "", {}, "/q /s", {}, 10, {{"a.txt", no}},
         {.password = "password"}},
        {"silent-entry-locked", {{"a.txt", "a"}, {"locked.txt", "x", "password"}, {"c.txt", "c"}},
         "", {}, "/q /s", {}, 10, {{"a.txt", "a"}, {"c.txt", no}}},
        {"silent-existing", {{"a.txt", "a"}, {"kept.txt", "new"}, {"c.txt", "c"}}, "",
         {{"kept.txt", "old"}}, "/q /s", {}, 2,
         {{"a.txt", "a"}, {"kept.txt", "old"}, {"c.txt", no}}},
        {"plain-stub", {}, "", {}, "",
         {{"Error opening file", Error(vorx_NotFound), IDOK, Owner::None}}, 4, {}},
    });
    // clang-format on
}

TEST_F(SelfExtractor, Wizard) {
    const std::string marker = ReadFile(WindowsPath(VORX_MARKER));  // records its arguments
    // Lossily converted, the wide folder reads "out dir\inner\..": "escaped" would land in out_.
    SetEnvironmentVariableW(L"VORX_GUI_WIDE", (Wide(out_) + L"inner\\\uFF0E\uFF0E").c_str());
    // clang-format off
    Run({
        {"folder-not-created",
         {{"first.txt", "1"}, {"docs\\guide.txt", "guide"}, {"last.txt", "3"}},
         "", {{"docs", "a file"}}, nullptr,
         {{"Error", "Error creating directory", IDOK, Owner::None}}, vorx_WriteFailed,
         {{"first.txt", "1"}, {"last.txt", no}}},
        {"yes-no", {{"a.txt", "new"}, {"b.txt", "new"}, {"c.txt", "new"}}, "",
         {{"a.txt", "old"}, {"b.txt", "ol"}}, nullptr,
         {{"Overwrite", Ask("a.txt"), IDYES, Owner::Dialog}, {"Overwrite", Ask("b.txt"), IDNO}}, 0,
         {{"a.txt", "new"}, {"b.txt", "ol"}, {"c.txt", "new"}}},
        {"overwrite-cancel", {{"a.txt", "new"}, {"b.txt", "new"}, {"never.exe", "x"}}, "never.exe",
         {{"a.txt", "old"}}, nullptr, {{"Overwrite", Ask("a.txt"), IDCANCEL}}, 2,
         {{"a.txt", "old"}, {"b.txt", no}}, {}, true},
        // Cancel while a file is being written: asked, and nothing after it is written.
        {.label = "cancel",
         .entries = {{"first.txt", "1"}, {"slow.bin", Words(6 << 20, 2), {}, 256},
                     {"after.txt", "3"}},
         .tail = nullptr,
         .boxes = {{"Cancel", "Are you sure you wish to cancel extraction?", IDYES}},
         .code = 2, .after = {{"first.txt", "1"}, {"slow.bin", no}, {"after.txt", no}},
         .cancelAt = "slow.bin"},
        // A password with nothing remembered: no prompt, the error, and the command runs.
        {"run-after-error", {{"marker.exe", marker}, {"locked.txt", "x", "password"},
                             {"never.txt", "x"}}, "marker.exe after-error", {}, nullptr,
         {{"Error extracting", Error(vorx_PasswordRequired), IDOK, Owner::Dialog}}, 10,
         {{"ran.txt", "after-error"}, {"never.txt", no}}},
        // Kept at the question, the program still runs; the planted my.exe, a shorter prefix,
        // does not.
        {"run-kept", {{"bin tools\\my tool.exe", marker}},
         "bin tools\\my tool --flag \"two words\"",
         {{"bin tools\\my.exe", marker}, {"bin tools\\my tool.exe", marker}}, nullptr,
         {{"Overwrite", Ask("bin tools\\my tool.exe"), IDNO}}, 0,
         {{"bin tools\\ran.txt", "--flag \"two words\""}}},
        {"run-not-extracted", {{"readme.txt", "read me"}}, "setup.exe /s", {{"setup.exe", marker}},
         nullptr, {{"Error", NotStarted("setup.exe /s"), IDOK, Owner::Dialog}}, 4,
         {{"readme.txt", "read me"}, {"ran.txt", no}}},
        // A destination expanding outside the ANSI code page is taken as it is (UTF-16), never
        // approximated.
        {.label = "wide-quiet", .entries = {{"wide.txt", "wide"}}, .tail = "/q", .boxes = {},
         .code = 0, .after = {{"escaped\\wide.txt", no}, {"inner\\escaped", no}}, .wide = true},
        // A comment that cannot be read (encrypted, too large for memory) leaves its page empty;
        // Cancel before the extraction ends the run at once, without a question.
        {.label = "comment-locked", .entries = {{"$comments$", "x", "password"}, {"a.txt", "a"}},
         .tail = nullptr, .code = 2, .after = {{"", no}}, .comment = "", .pressed = kCancel},
        {.label = "comment-huge",
         .entries = {{"$comments$", "x", {}, 65536, {.uncompressedSize = uint64_t{1} << 62}},
                     {"a.txt", "a"}},
         .tail = nullptr, .code = 2, .after = {{"", no}}, .comment = "", .pressed = kCancel},
        // Links left in the destination are replaced or refused, never written through.
        {.label = "links", .entries = {{"hard.txt", "new"}, {"filelink.txt", "new"},
                                       {"folderlink\\evil.txt", "x"}, {"after.txt", "x"}},
         .before = {{"..\\outside\\hard.txt", "out"}, {"..\\outside\\secret.txt", "out"}},
         .tail = nullptr,
         .boxes = {{"Error extracting", "Not extracted: %OUT%folderlink\\ is a link to another "
                    "place (a junction or symbolic link) inside the destination folder, and "
                    "nothing is written through it.", IDOK, Owner::Dialog}},
         .code = vorx_WriteFailed,
         .after = {{"hard.txt", "new"}, {"filelink.txt", "new"}, {"after.txt", no},
                   {"..\\outside\\hard.txt", "out"}, {"..\\outside\\secret.txt", "out"}},
         .links = true},
    });
    // clang-format on
}

// The archive's password: the dialog takes 63 characters (seventy typed open an archive made with
// the first 63), refuses a short one, and asks again for an entry the remembered one cannot open.
TEST_F(SelfExtractor, Passwords) {
    const std::vector<Entry> locked = {{"plain.txt", "plain"},
                                       {"locked.txt", "locked", "data-password"}};
    const std::string typed = "opensesame-" + std::string(52, 'k') + "0123456";
    const vorx::test::DamagedDirectory archive{.password = typed.substr(0, 63)};
    const std::string big = Words(9 << 20, 5);
    // clang-format off
    Run({
        {"password-short-cancelled", locked, "", {}, "",
         {{kPasswordCaption, kArchivePrompt, IDOK, Owner::None, "short"},
          {"Error", "The minimum password length is 6 characters", IDOK, Owner::Dialog},
          {kPasswordCaption, kArchivePrompt, IDCANCEL, Owner::None, ""},
          {"Error opening file", Error(vorx_PasswordRequired), IDOK, Owner::None}},
         10, {{"plain.txt", no}}, archive},
        {"password-wrong", locked, "", {}, "",
         {{kPasswordCaption, kArchivePrompt, IDOK, Owner::None, "not the pass"},
          {"Error opening file", Error(vorx_CrcMismatch), IDOK, Owner::None}},
         9, {{"plain.txt", no}}, archive},
        {.label = "password-right", .entries = locked, .tail = nullptr,
         .boxes = {{kPasswordCaption, kArchivePrompt, IDOK, Owner::None, typed.c_str(), 1},
                   {kPasswordCaption, kFilePrompt, IDOK, Owner::Dialog, "data-password", 2}},
         .code = 0, .after = {{"plain.txt", "plain"}, {"locked.txt", "locked"}},
         .directory = archive, .early = 1},
        // The archive's password remembered; another one asked for (a wrong try first, the
        // remembered one kept), then remembered in its turn, so that entries decoded ahead with
        // the first one are decoded again; the first asked for again, not remembered.
        {"passwords-ahead", {{"a.txt", "a"}, {"b.txt", Words(3000, 2), "password1", kPacked},
                             {"c.txt", Words(3000, 3), "password2", kPacked},
                             {"d.txt", "d", "password2"}, {"e.bin", big, "password2", kPacked},
                             {"f.txt", "f", "password1"}, {"g.txt", "g", "password2"}},
         "", {}, "/q",
         {{kPasswordCaption, kArchivePrompt, IDOK, Owner::Any, "password1", 1},
          {kPasswordCaption, kFilePrompt, IDOK, Owner::Any, "wrong-one", 3},
          {kPasswordCaption, kFilePrompt, IDOK, Owner::Any, "password2", 2},
          {kPasswordCaption, kFilePrompt, IDOK, Owner::Any, "password1", 3}},
         0, {{"b.txt", Words(3000, 2)}, {"e.bin", big}, {"g.txt", "g"}}, {.password = "password1"}},
        {"passwords-cancelled", {{"a.txt", "a", "password1"}, {"b.txt", "b", "password2"},
                                 {"c.txt", "c", "password1"}}, "", {}, "/q",
         {{kPasswordCaption, kArchivePrompt, IDOK, Owner::Any, "password1", 1},
          {kPasswordCaption, kFilePrompt, IDCANCEL, Owner::Any, "", 2},
          {"Error extracting", Error(vorx_PasswordRequired), IDOK}},
         10, {{"a.txt", "a"}, {"b.txt", no}, {"c.txt", no}}, {.password = "password1"}},
    });
    // clang-format on
}

// A destination on a small file system, mounted from the host where that is allowed: not
// enough free space or a failed write, whichever comes first, as on one processor.
TEST_F(SelfExtractor, AFullDisk) {
    Scripted run{.label = "full-disk",
                 .tail = "/q",
                 .boxes = {{"Error extracting", "", IDOK}},
                 .code = vorx_OutOfDiskSpace,
                 .fullDisk = true};
    for (uint32_t i = 0; i < 40; ++i)
        run.entries.push_back(
            {"f" + std::to_string(i) + ".txt", Words(1000 + i * 4000, i), {}, kPacked});
    run.entries.push_back({"big.bin", Words(9 << 20, 1), {}, kPacked});
    Run({run});
}

// Sizes drawn on screen, in pixels, by name, which must grow with the scale (within 10 %). A line
// of text is measured by its width: its height at 96 DPI is too few pixels to tell 10 %.
struct Measures {
    void Ink(const std::string& name, HWND window, bool line = false) {
        const SIZE ink = InkSize(window);
        EXPECT_TRUE(ink.cx > 0 && ink.cy > 0) << name << " shows nothing";
        sizes[name + ".width"] = ink.cx;
        if (!line) sizes[name + ".height"] = ink.cy;
    }
    void Page(const std::string& page, HWND wizard, int text, bool line) {  // header, text, dialog
        Ink(page + ".text", GetDlgItem(wizard, text), line);
        Ink(page + ".title", GetDlgItem(wizard, kTitle), true);
        Ink(page + ".subtitle", GetDlgItem(wizard, kSubtitle), true);
        Ink(page + ".picture", GetDlgItem(wizard, kPicture));
        Client(page + ".dialog", wizard);
    }
    void Client(const std::string& name, HWND window) {
        RECT c{};
        GetClientRect(window, &c);
        sizes[name + ".width"] = c.right;
        sizes[name + ".height"] = c.bottom;
    }
    void ExpectScaled(const Measures& base, double factor, const std::string& what) const {
        for (const auto& [name, size] : sizes)
            EXPECT_NEAR(size / base.sizes.at(name), factor, factor / 10)
                << what << ": " << name << " " << size;
    }
    std::map<std::string, double> sizes;
};

// The dialog lies on the screen; every visible control of it inside its client area, overlapping no
// other. Tab, pressed from the focused control, visits the controls `tabs` names in turn (the last:
// where it started, the control the focus is on).
void ExpectTidy(HWND dialog, const std::string& what, const std::vector<int>& tabs = {}) {
    RECT client, both, window,
        screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    EXPECT_TRUE(GetWindowRect(dialog, &window) && IntersectRect(&both, &window, &screen) &&
                EqualRect(&both, &window))
        << what;
    GetClientRect(dialog, &client);
    std::vector<HWND> shown;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
        if (IsWindowVisible(c)) shown.push_back(c);
    for (size_t i = 0; i < shown.size(); ++i) {
        const RECT rect = RectIn(dialog, shown[i]);
        EXPECT_TRUE(IntersectRect(&both, &rect, &client) && EqualRect(&both, &rect))
            << what << ": control " << GetDlgCtrlID(shown[i]) << " leaves the dialog, right "
            << rect.right;
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const RECT other = RectIn(dialog, shown[j]);
            EXPECT_FALSE(IntersectRect(&both, &rect, &other))
                << what << ": " << GetDlgCtrlID(shown[i]) << " overlaps " << GetDlgCtrlID(shown[j]);
        }
    }
    std::vector<int> visited;
    EXPECT_TRUE(tabs.empty() || GetDlgCtrlID(Focus(dialog)) == tabs.back()) << what << ": focus";
    for (HWND from = Focus(dialog), to = from; visited.size() < tabs.size();
         visited.push_back(GetDlgCtrlID(from = to))) {
        Key(dialog, VK_TAB);
        WaitUntil([&] { return (to = Focus(dialog)) != from; }, 2000);
    }
    EXPECT_EQ(visited, tabs) << what;
}

// The dialogs at this session's display scale, driven from the keyboard (scale_sessions.sh: 96, 144
// and 192 DPI). What is drawn grows with the scale; no control overlaps another or leaves its
// dialog; Tab follows reading order; Enter confirms; Esc cancels, asking first while files are
// extracted.
TEST_F(SelfExtractor, PagesAtOneScale) {
    const char* scale = std::getenv("VORX_GUI_DPI");
    if (scale == nullptr) GTEST_SKIP() << "needs a session at a set scale (scale_sessions.sh)";
    const int dpi = std::atoi(scale);
    HDC screen = GetDC(nullptr);
    ASSERT_EQ(GetDeviceCaps(screen, LOGPIXELSY), dpi) << "the session runs at another scale";
    ReleaseDC(nullptr, screen);
    shots_ += std::to_string(dpi) + "dpi-";
    Measures measured;
    Make("setup.exe", {out_, "after.exe"},
         {{"$comments$", "Welcome to the sample.\nSecond line.\nThird line.\n"},
          {"readme.txt", "read me\r\n"},
          {"docs\\guide\\big.bin", std::string(6u << 20, 'b'), {}, 256},
          {"after.exe", "never started"}},
         {.password = "scale-password"});
    Process process;
    EXPECT_TRUE(process.Start(Wide(Path("setup.exe")), L"", Wide(dir_)));

    // The archive's password: Enter confirms; a short one is refused by a box that Esc closes.
    HWND prompt = WaitForBox(process.id, kPasswordCaption, kAppear, kPrompt);
    ASSERT_NE(prompt, nullptr);
    ExpectTidy(prompt, "password", {kRemember, IDOK, IDCANCEL, kPasswordEdit});
    measured.Ink("password.prompt", GetDlgItem(prompt, kPrompt), true);
    measured.Client("password.dialog", prompt);
    Type(prompt, kPasswordEdit, "short");
    Shot(process, "0-password");
    Key(prompt, VK_RETURN);
    HWND box = WaitForBox(process.id, "Error", kAppear);
    EXPECT_EQ(GetWindow(box, GW_OWNER), prompt);
    Key(box, VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, kAppear)) << "Esc leaves the box";
    Type(prompt, kPasswordEdit, "scale-password");
    Key(prompt, VK_RETURN);

    HWND wizard = WaitForPage(process, kCommentView);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(ControlText(wizard, kCommentView),
              "Welcome to the sample.\r\nSecond line.\r\nThird line.\r\n");
    for (int id : {kDestination, kOverwriteAll, kBrowse, kStatus, kProgress})
        EXPECT_FALSE(Visible(wizard, id)) << id;
    EXPECT_EQ(Send(wizard, WM_QUERYUISTATE), 0u) << "the focus and access keys are always shown";
    ExpectTidy(wizard, "comments", {kCommentView, kCancel, kNext});
    measured.Page("comments", wizard, kCommentView, false);
    Shot(process, "1-comments");
    Key(wizard, VK_RETURN);

    ASSERT_EQ(WaitForPage(process, kDestination), wizard);
    EXPECT_EQ(GetDlgItem(wizard, kCommentView), nullptr) << "the comment view is destroyed";
    EXPECT_EQ(ControlText(wizard, kStatus), "&Directory to extract files to:");
    EXPECT_FALSE(Checked(wizard, kOverwriteAll));
    ExpectTidy(wizard, "destination", {kBrowse, kOverwriteAll, kCancel, kNext, kDestination});
    measured.Page("destination", wizard, kStatus, true);
    Shot(process, "2-destination");
    // At 96 DPI (at 192 it would not fit the virtual screen), a move to a display of 192 and back
    // (WM_DPICHANGED), to the screen's top left corner: twice the size, then as before.
    RECT frame, client;
    GetWindowRect(wizard, &frame);
    GetClientRect(wizard, &client);
    for (const int to : {192, 96}) {
        if (dpi != 96) break;
        const RECT suggested{0, 0, frame.right - frame.left + client.right * (to - 96) / 96,
                             frame.bottom - frame.top + client.bottom * (to - 96) / 96};
        const std::string moved = "moved to " + std::to_string(to) + " DPI";
        ASSERT_TRUE(ChangeScale(process, wizard, to, suggested)) << moved;
        Sleep(300);
        Measures changed;
        changed.Page("destination", wizard, kStatus, true);
        changed.ExpectScaled(measured, to / 96.0, moved);
        ExpectTidy(wizard, moved);
        if (to != 96) Shot(process, "2-destination-moved-to-192dpi");
    }
    // Access keys: the label's leads to its path box, the check box's ticks it; a one-character
    // path is refused; the folder browser (Alt+B), closed with Esc, keeps the text.
    Key(wizard, VK_TAB);
    AltKey(wizard, 'd');
    EXPECT_TRUE(WaitUntil([&] { return Focus(wizard) == GetDlgItem(wizard, kDestination); }, 2000));
    AltKey(wizard, 'o');
    EXPECT_TRUE(WaitUntil([&] { return Checked(wizard, kOverwriteAll); }, 2000)) << "Alt+O";
    ClickCheckBox(wizard, kOverwriteAll);
    Type(wizard, kDestination, "C");
    Key(wizard, VK_RETURN);
    Answer(process, {"Error", "Please enter a path", IDOK, Owner::Dialog}, wizard,
           "3-path-refused");
    AltKey(wizard, 'b');
    HWND browser = WaitForBox(process.id, "Browse for Folder", kAppear, 0x3742);  // its title
    EXPECT_EQ(ControlText(browser, 0x3742), "Select the folder to extract to");
    EXPECT_EQ(GetWindow(browser, GW_OWNER), wizard);
    Shot(process, "4-browse");
    Key(browser, VK_ESCAPE);
    ASSERT_TRUE(
        WaitUntil([&] { return !IsWindow(browser) || !IsWindowVisible(browser); }, kAppear));
    EXPECT_EQ(ControlText(wizard, kDestination), "C");
    Type(wizard, kDestination, out_);

    // The bar's frame takes the place of the path box and keeps its own client size.
    POINT pathBox{0, 0};  // the path box's client area
    MapWindowPoints(GetDlgItem(wizard, kDestination), wizard, &pathBox, 1);
    RECT inner;
    GetClientRect(GetDlgItem(wizard, kProgress), &inner);
    Key(wizard, VK_RETURN);
    ASSERT_EQ(WaitForPage(process, kProgress), wizard);
    for (int id : {kDestination, kOverwriteAll, kBrowse}) EXPECT_FALSE(Visible(wizard, id)) << id;
    EXPECT_TRUE(!Enabled(wizard, kNext) && Enabled(wizard, kCancel));
    EXPECT_FALSE(Enabled(wizard, kProgress)) << "the bar only displays";
    EXPECT_EQ(Focus(wizard), GetDlgItem(wizard, kCancel))
        << "the focus left Next as it was disabled";
    const RECT bar = RectIn(wizard, GetDlgItem(wizard, kProgress));
    EXPECT_EQ(std::vector<LONG>({bar.left, bar.top, bar.right - bar.left, bar.bottom - bar.top}),
              std::vector<LONG>({pathBox.x, pathBox.y, inner.right, inner.bottom}));
    EXPECT_EQ(std::vector<DWORD_PTR>({Bar(wizard, PBM_GETBARCOLOR), Bar(wizard, PBM_GETRANGE, TRUE),
                                      Bar(wizard, PBM_GETRANGE, FALSE)}),
              std::vector<DWORD_PTR>({0x00BE7D0B, 0, 100}));
    ASSERT_TRUE(WaitUntil(
        [&] { return ControlText(wizard, kStatus) == "Current file: docs\\guide\\big.bin"; },
        kAppear));
    ASSERT_TRUE(WaitUntil([&] { return Bar(wizard, PBM_GETPOS) >= 10; }, kFinish));
    ExpectTidy(wizard, "extracting");
    // Painted: the white header band, its title in black, the bar in blue.
    Sleep(200);
    const RECT title = RectIn(wizard, GetDlgItem(wizard, kTitle)),
               in{bar.left + 1, bar.top + 1, bar.right - 1, bar.bottom - 1};
    const std::tuple<RECT, COLORREF, int> painted[] = {
        {{0, 0, title.right, title.bottom}, RGB(255, 255, 255), title.right * title.bottom / 2},
        {title, 0, 40 * dpi * dpi / 96 / 96},
        {in, RGB(11, 125, 190), 50}};
    for (const auto& [area, colour, least] : painted)
        EXPECT_GT(std::ranges::count(Pixels(wizard, area), colour), least) << colour;
    Shot(process, "5-extracting");

    // Esc asks; No (its access key) lets the extraction go on, Yes (Enter) ends the run (without an
    // error and without the program to run after) and removes the file being written.
    for (const bool yes : {false, true}) {
        Key(wizard, VK_ESCAPE);
        HWND question = WaitForBox(process.id, "Cancel", kAppear);
        EXPECT_EQ(ControlText(question, 65535), "Are you sure you wish to cancel extraction?");
        EXPECT_EQ(GetWindow(question, GW_OWNER), wizard);
        if (!yes) Shot(process, "6-cancel-question");
        const DWORD_PTR before = Bar(wizard, PBM_GETPOS);
        yes ? Key(question, VK_RETURN) : AltKey(question, 'n');
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(question); }, kAppear));
        EXPECT_TRUE(yes || WaitUntil([&] { return Bar(wizard, PBM_GETPOS) > before; }, kFinish))
            << "stopped";
    }
    EXPECT_EQ(process.WaitForExit(kFinish), 2u);
    EXPECT_EQ(ReadFile(out_ + "readme.txt"), "read me\r\n");
    EXPECT_EQ(ExpectNoTemporaries(out_ + "docs\\guide"), 0u) << "the file being written is removed";
    EXPECT_FALSE(fs::exists(out_ + "$comments$") || fs::exists(out_ + "after.exe"));

    const std::string base = WindowsPath(VORX_GUI_WORK) + "\\scale-96.txt";
    if (dpi == 96) {
        std::ofstream out(base);
        for (const auto& [name, size] : measured.sizes) out << name << " " << size << "\n";
        ASSERT_TRUE(out.flush()) << base;
    } else {
        Measures at96;
        std::ifstream in(base);
        for (std::string name; in >> name;) in >> at96.sizes[name];
        if (at96.sizes.empty()) GTEST_SKIP() << "no sizes from a walk at 96 DPI in " << base;
        measured.ExpectScaled(at96, dpi / 96.0, "at " + std::to_string(dpi) + " DPI");
    }
}

// The demo's pictures, not a test: scripts/demo runs it (--gtest_also_run_disabled_tests) on its
// self-extractor VORX_DEMO_SFX and finds the pages in VORX_DEMO_SHOTS/wizard-<page>.png.
TEST_F(SelfExtractor, DISABLED_DemoPages) {
    Process process;
    ASSERT_TRUE(std::getenv("VORX_DEMO_SFX") && std::getenv("VORX_DEMO_SHOTS"));
    ASSERT_TRUE(process.Start(Wide(WindowsPath(std::getenv("VORX_DEMO_SFX"))), L""));
    shots_ = WindowsPath(std::getenv("VORX_DEMO_SHOTS")) + "\\wizard-";
    for (const auto& [control, page] : {std::pair{kCommentView, "1-comment"},
                                        {kDestination, "2-destination"},
                                        {kProgress, "3-extracting"}}) {
        HWND wizard = WaitForPage(process, control);
        Shot(process, page);
        if (control != kProgress) Press(wizard, kNext);
    }
    EXPECT_EQ(process.WaitForExit(300000), 0u);
}

// It opens itself by its UTF-16 path, whatever the code page holds: lossily converted,
// ".../inner/\uFF0E\uFF0E/setup.exe" reads ".../inner/../setup.exe", the neighbour.
TEST_F(SelfExtractor, AProgramInAFolderOutsideTheCodePageNeverOpensAnotherFile) {
    Make("setup.exe", {Path("from-neighbour"), ""}, {{"neighbour.txt", "neighbour"}});
    Make("mine.exe", {Path("from-mine"), ""}, {{"mine.txt", "mine"}});
    const fs::path folder = fs::path(dir_) / "inner" / std::wstring(L"\uFF0E\uFF0E");
    fs::create_directories(folder);
    fs::copy_file(Path("mine.exe"), folder / "setup.exe");
    Process process;
    ASSERT_TRUE(process.Start((folder / "setup.exe").wstring(), L"/q"));
    EXPECT_EQ(process.WaitForExit(kFinish), 0u);
    EXPECT_EQ(ReadFile(Path("from-mine\\mine.txt")), "mine");
    EXPECT_FALSE(fs::exists(Path("from-mine\\neighbour.txt")) || fs::exists(Path("from-neighbour")))
        << "the neighbour's archive was extracted";
}

}  // namespace
