// Win32 implementation of the tool's host services: file attributes and times,
// FindFirstFileA, CreateDirectoryA, MultiByteToWideChar / WideCharToMultiByte for the
// code pages, the console and its Ctrl+C handler. Host names are in the ANSI code page.
#include "platform/host.h"

#include <windows.h>

#include <io.h>
#include <process.h>
#include <stdio.h>
#include <cstdio>
#include <sys/stat.h>

#include <algorithm>

namespace host {
namespace {

void (*gInterruptHandler)() = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if ((type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) && gInterruptHandler) {
        gInterruptHandler();
        return TRUE;
    }
    return FALSE;
}

bool ToWide(const std::string& text, unsigned codePage, std::wstring* out) {
    out->clear();
    if (text.empty()) return true;
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    out->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                               static_cast<int>(text.size()), out->data(), n) == n;
}

bool FromWide(const std::wstring& text, unsigned codePage, std::string* out) {
    out->clear();
    if (text.empty()) return true;
    BOOL usedDefault = FALSE;
    // UTF-8 takes neither flag nor the default-character question.
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    const int n = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, used);
    if (n <= 0 || usedDefault) return false;
    out->resize(static_cast<size_t>(n));
    return WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                               out->data(), n, nullptr, used) == n &&
           !usedDefault;
}

int64_t FileTimeToSeconds(const FILETIME& ft) {
    const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}

}  // namespace

PathStatus Stat(const std::string& path) {
    PathStatus status;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return status;
    const DWORD a = data.dwFileAttributes;
    status.isLink = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    status.kind = (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory
                  : (a & FILE_ATTRIBUTE_DEVICE)  ? PathKind::Other
                                                 : PathKind::File;
    status.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.writeSeconds = FileTimeToSeconds(data.ftLastWriteTime);
    status.attributes = static_cast<uint16_t>(a & 0x27);
    return status;
}

bool ListDirectory(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names->push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names->begin(), names->end());
    return true;
}

bool MakeDirectory(const std::string& path, bool* created) {
    const bool made = CreateDirectoryA(path.c_str(), nullptr) != 0;
    if (created) *created = made;
    if (made) return true;
    return Stat(path).kind == PathKind::Directory;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

char PathSeparator() { return '\\'; }

bool NamesIgnoreCase() { return true; }

std::string AbsolutePath(const std::string& path) {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    if (n == 0 || n >= sizeof buffer) return path;
    std::string result(buffer, n);
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
    return result;
}

bool ToCodePage(const std::string& hostText, unsigned codePage, std::string* out, std::string* error) {
    std::wstring wide;
    if (!CodePageAvailable(codePage)) {
        *error = "code page " + std::to_string(codePage) + " is not available on this system";
        return false;
    }
    if (!ToWide(hostText, CP_ACP, &wide) || !FromWide(wide, codePage, out)) {
        *error = "it has characters that code page " + std::to_string(codePage) + " cannot hold";
        return false;
    }
    return true;
}

bool FromCodePage(const std::string& text, unsigned codePage, std::string* out, std::string* error) {
    std::wstring wide;
    if (!CodePageAvailable(codePage)) {
        *error = "code page " + std::to_string(codePage) + " is not available on this system";
        return false;
    }
    if (!ToWide(text, codePage, &wide) || !FromWide(wide, CP_ACP, out)) {
        *error = "it has characters that this system's code page cannot hold";
        return false;
    }
    return true;
}

bool CodePageAvailable(unsigned codePage) { return IsValidCodePage(codePage) != 0; }

bool IsTerminal(int fd) { return _isatty(fd) != 0; }

bool ReadLine(std::string* line) {
    // Standard C input, not iostreams: the streams library would add most of a
    // megabyte to the program.
    line->clear();
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') line->push_back(static_cast<char>(c));
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return c != EOF || !line->empty();
}

void OnInterrupt(void (*handler)()) {
    gInterruptHandler = handler;
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

unsigned ProcessId() { return static_cast<unsigned>(GetCurrentProcessId()); }

static_assert(sizeof(SRWLOCK) <= 64 && sizeof(CONDITION_VARIABLE) <= 64);

Mutex::Mutex() { InitializeSRWLock(reinterpret_cast<SRWLOCK*>(storage_)); }
Mutex::~Mutex() = default;  // a slim lock holds no resources
void Mutex::Lock() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_)); }
void Mutex::Unlock() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_)); }

Condition::Condition() { InitializeConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(storage_)); }
Condition::~Condition() = default;
void Condition::Wait(Mutex& mutex) {
    SleepConditionVariableSRW(reinterpret_cast<CONDITION_VARIABLE*>(storage_),
                              reinterpret_cast<SRWLOCK*>(mutex.storage_), INFINITE, 0);
}
void Condition::NotifyAll() { WakeAllConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(storage_)); }

namespace {
struct ThreadStart {
    void (*function)(void*);
    void* argument;
};
unsigned __stdcall RunThread(void* start) {
    const ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.function(s.argument);
    return 0;
}
}  // namespace

bool Thread::Start(void (*function)(void*), void* argument) {
    if (running_) return false;
    auto* start = new ThreadStart{function, argument};
    // Through the C runtime, which sets up its per-thread data for the new thread.
    const uintptr_t thread = _beginthreadex(nullptr, 0, &RunThread, start, 0, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    handle_ = thread;
    running_ = true;
    return true;
}

void Thread::Join() {
    if (!running_) return;
    HANDLE thread = reinterpret_cast<HANDLE>(handle_);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    running_ = false;
}

}  // namespace host
