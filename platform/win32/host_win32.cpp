// Win32 implementation of the tool's host services: file attributes and times,
// FindFirstFileA, CreateDirectoryA, MultiByteToWideChar / WideCharToMultiByte for the
// code pages, the console and its Ctrl+C handler. Host names are in the ANSI code page.
#include "platform/host.h"

#include <windows.h>
#include <ntsecapi.h>

#include <fcntl.h>
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

// The status of the name itself, from its attributes: a reparse point is reported in isLink.
PathStatus StatusOf(const std::string& path) {
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

}  // namespace

PathStatus Stat(const std::string& path) { return StatusOf(path); }

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

struct FolderAccess {
    static HANDLE Handle(const Folder& folder) { return reinterpret_cast<HANDLE>(folder.handle_); }
    static FolderPtr Make(std::string path, HANDLE handle, FolderPtr parent) {
        return FolderPtr(
            new Folder(std::move(path), reinterpret_cast<intptr_t>(handle), std::move(parent)));
    }
};

namespace {

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '\\' || last == '/' || last == ':' ? folder + name : folder + "\\" + name;
}

// `bytes` bytes from the system's random source, as hex digits.
bool RandomHex(size_t bytes, std::string* out) {
    unsigned char buffer[32];
    if (bytes > sizeof buffer || !RtlGenRandom(buffer, static_cast<ULONG>(bytes))) return false;
    out->clear();
    for (size_t i = 0; i < bytes; ++i) {
        out->push_back("0123456789abcdef"[buffer[i] >> 4]);
        out->push_back("0123456789abcdef"[buffer[i] & 15]);
    }
    return true;
}

// Opens a folder for as long as it is used. Without delete sharing, no one can rename
// or delete it (or a folder above it) meanwhile and put something else in its place.
HANDLE OpenFolderHandle(const std::string& path, bool followLink, DWORD* attributes) {
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    *attributes = info.dwFileAttributes;
    return h;
}

// A new file, never over anything that exists under that name (CREATE_NEW does not
// follow a link). Others may read it while it is written, not delete or rename it.
HANDLE CreateNew(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

int ToDescriptor(HANDLE h) {
    if (h == INVALID_HANDLE_VALUE) return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (fd < 0) CloseHandle(h);
    return fd;
}

void ToFileTime(int64_t seconds, FILETIME* ft) {
    const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600ll) * 10000000ull;
    ft->dwLowDateTime = static_cast<DWORD>(ticks);
    ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

}  // namespace

Folder::Folder(std::string path, intptr_t handle, std::shared_ptr<const Folder> parent)
    : path_(std::move(path)), handle_(handle), parent_(std::move(parent)) {}

Folder::~Folder() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

FolderPtr OpenFolder(const std::string& path) {
    DWORD attributes = 0;
    HANDLE h = OpenFolderHandle(path.empty() ? "." : path, true, &attributes);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(h);
        return nullptr;
    }
    return FolderAccess::Make(path, h, nullptr);
}

Subfolder OpenSubfolder(const FolderPtr& parent, const std::string& name, FolderPtr* out) {
    const std::string path = Join(parent->path(), name);
    bool made = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD attributes = 0;
        HANDLE h = OpenFolderHandle(path, false, &attributes);
        if (h != INVALID_HANDLE_VALUE) {
            // Checked on the handle itself: what was checked is what stays open.
            const Subfolder kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? Subfolder::Link
                                   : !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? Subfolder::NotFolder
                                   : made                                     ? Subfolder::Made
                                                                              : Subfolder::Opened;
            if (kind == Subfolder::Made || kind == Subfolder::Opened) {
                *out = FolderAccess::Make(path, h, parent);
            } else {
                CloseHandle(h);
            }
            return kind;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return Subfolder::Failed;
        made = CreateDirectoryA(path.c_str(), nullptr) != 0;
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS) return Subfolder::Failed;
    }
    return Subfolder::Failed;
}

PathStatus StatIn(const Folder& folder, const std::string& name) {
    return StatusOf(Join(folder.path(), name));
}

int CreateFileIn(const Folder& folder, const std::string& name) {
    return ToDescriptor(CreateNew(Join(folder.path(), name)));
}

int CreateTemporaryIn(const Folder& folder, std::string* name) {
    // A name already taken is a planted one, or chance: try a few fresh ones.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string random;
        if (!RandomHex(12, &random)) return -1;
        *name = ".vorx-" + random + ".tmp";
        HANDLE h = CreateNew(Join(folder.path(), *name));
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return ToDescriptor(h);
    }
    return -1;
}

bool SetFileTimesOf(int fd, int64_t accessSeconds, int64_t writeSeconds) {
    FILETIME access, write;
    ToFileTime(accessSeconds, &access);
    ToFileTime(writeSeconds, &write);
    return SetFileTime(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), nullptr, &access, &write) != 0;
}

bool RenameIn(const Folder& folder, const std::string& from, const std::string& to) {
    return MoveFileExA(Join(folder.path(), from).c_str(), Join(folder.path(), to).c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveIn(const Folder& folder, const std::string& name) {
    return DeleteFileA(Join(folder.path(), name).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool TemporaryFile::Create(FolderPtr folder) {
    Remove();
    if (!folder) return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string random;
        if (!RandomHex(12, &random)) return false;
        const std::string name = ".vorx-" + random + ".tmp";
        HANDLE h = CreateNew(Join(folder->path(), name));
        if (h != INVALID_HANDLE_VALUE) {
            // Held open until it is renamed or removed: its name cannot change meanwhile.
            handle_ = reinterpret_cast<intptr_t>(h);
            name_ = name;
            path_ = Join(folder->path(), name);
            folder_ = std::move(folder);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

bool TemporaryFile::RenameTo(const std::string& name) {
    if (handle_ == -1) return false;
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    if (!RenameIn(*folder_, name_, name)) {
        Remove();
        return false;
    }
    folder_.reset();
    name_.clear();
    path_.clear();
    return true;
}

void TemporaryFile::Remove() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    if (folder_ && !name_.empty()) RemoveIn(*folder_, name_);
    folder_.reset();
    name_.clear();
    path_.clear();
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) {
        // "C:name" lies in the current folder of drive C.
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    }
    // A root keeps its separator: \x lies in \, C:\x in C:\.
    if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
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

bool ToCodePage(const std::string& hostText, unsigned codePage, std::string* out,
                std::string* error) {
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

bool FromCodePage(const std::string& text, unsigned codePage, std::string* out,
                  std::string* error) {
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

}  // namespace host
