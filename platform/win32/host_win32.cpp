// Win32 implementation of the tool's host services. Host text is UTF-8; every system
// call takes it as UTF-16 (the W functions), and folders below the output folder are
// walked through held handles (held_folders.h). Code pages are converted with
// MultiByteToWideChar / WideCharToMultiByte, strictly; the console is switched to UTF-8
// while the tool runs; Ctrl+C reaches the tool through a console handler.
#include "platform/host.h"

#include <windows.h>
#include <ntsecapi.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <stdio.h>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/win32/held_folders.h"

// The C runtime's split of the UTF-16 command line (msvcrt exports it; no header declares it).
extern "C" {
struct StartupInfo {
    int newMode;
};
__declspec(dllimport) int __cdecl __wgetmainargs(int* count, wchar_t*** arguments,
                                                 wchar_t*** environment, int expandWildcards,
                                                 StartupInfo* startup);
}

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

// Text in code page `codePage` to UTF-16; false for bytes the code page does not define.
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

// UTF-16 to code page `codePage`, exactly: no best-fit stand-in, no default character,
// and the bytes must read back as the same characters (some code pages give two
// characters one byte sequence).
bool FromWide(const std::wstring& text, unsigned codePage, std::string* out) {
    out->clear();
    if (text.empty()) return true;
    BOOL usedDefault = FALSE;
    // UTF-8 takes neither flag nor the default-character question.
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    const int n = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, used);
    if (n <= 0 || usedDefault) return false;
    out->resize(static_cast<size_t>(n));
    std::wstring back;
    return WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                               out->data(), n, nullptr, used) == n &&
           !usedDefault && ToWide(*out, codePage, &back) && back == text;
}

// Host text as UTF-16 for a system call; empty (which names nothing) when it is not UTF-8.
std::wstring Wide(const std::string& text) {
    std::wstring wide;
    return ToWide(text, CP_UTF8, &wide) ? wide : std::wstring();
}

// UTF-16 from the system as host text; a lone surrogate, which UTF-8 cannot spell,
// becomes '?' (no file name holds one).
std::string Narrow(const wchar_t* text, size_t length) {
    std::wstring copy(text, length);
    for (size_t i = 0; i < copy.size(); ++i) {
        const bool high = copy[i] >= 0xD800 && copy[i] <= 0xDBFF;
        const bool low = copy[i] >= 0xDC00 && copy[i] <= 0xDFFF;
        if (high && i + 1 < copy.size() && copy[i + 1] >= 0xDC00 && copy[i + 1] <= 0xDFFF)
            ++i;
        else if (high || low)
            copy[i] = L'?';
    }
    std::string out;
    return FromWide(copy, CP_UTF8, &out) ? out : std::string();
}

std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }

int64_t FileTimeToSeconds(uint64_t ticks) {
    return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}

PathKind KindOf(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory
           : (attributes & FILE_ATTRIBUTE_DEVICE)  ? PathKind::Other
                                                   : PathKind::File;
}

}  // namespace

PathStatus Stat(const std::string& path) {
    PathStatus status;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return status;
    const DWORD a = data.dwFileAttributes;
    status.isLink = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    status.kind = KindOf(a);
    status.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.writeSeconds =
        FileTimeToSeconds((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                          data.ftLastWriteTime.dwLowDateTime);
    status.attributes = static_cast<uint16_t>(a & 0x27);
    return status;
}

bool ListDirectory(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((Wide(path) + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names->push_back(Narrow(name));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names->begin(), names->end());
    return true;
}

bool MakeDirectory(const std::string& path, bool* created) {
    const bool made = CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
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

// A name below a held folder, in the form the steps take.
struct WideName {
    explicit WideName(const std::string& name) : text(Wide(name)) {}
    platform::held::Name name() const { return {text.data(), text.size()}; }
    std::wstring text;
};

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

// A new file under a fresh random name ".vorx-RANDOM.tmp" in `folder`; null when none
// could be made. A name already taken is a planted one, or chance: a few are tried.
// Others may read it, not write, rename or delete it while it is open; the handle may
// rename and remove it.
HANDLE CreateTemporary(const Folder& folder, std::string* name) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string random;
        if (!RandomHex(12, &random)) return nullptr;
        *name = ".vorx-" + random + ".tmp";
        bool taken = false;
        HANDLE file = platform::held::CreateFileIn(FolderAccess::Handle(folder),
                                                   WideName(*name).name(), &taken);
        if (file != nullptr || !taken) return file;
    }
    return nullptr;
}

int ToDescriptor(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (fd < 0) CloseHandle(h);
    return fd;
}

}  // namespace

Folder::Folder(std::string path, intptr_t handle, std::shared_ptr<const Folder> parent)
    : path_(std::move(path)), handle_(handle), parent_(std::move(parent)) {}

Folder::~Folder() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

FolderPtr OpenFolder(const std::string& path) {
    HANDLE h = platform::held::OpenFolderPath(Wide(path.empty() ? "." : path).c_str());
    return h ? FolderAccess::Make(path, h, nullptr) : nullptr;
}

namespace {

// A step below `parent` (making the folder when `make`), as the tool names its outcome.
Subfolder TakeStep(const FolderPtr& parent, const std::string& name, bool make, FolderPtr* out) {
    HANDLE h = nullptr;
    using platform::held::Step;
    const Step step = platform::held::OpenSubfolder(FolderAccess::Handle(*parent),
                                                    WideName(name).name(), &h, make);
    switch (step) {
        case Step::Opened:
        case Step::Made:
            // Held with the folders above it, which then cannot be renamed either.
            *out = FolderAccess::Make(Join(parent->path(), name), h, parent);
            return step == Step::Made ? Subfolder::Made : Subfolder::Opened;
        case Step::Link:
            return Subfolder::Link;
        case Step::NotFolder:
            return Subfolder::NotFolder;
        case Step::Failed:
            break;
    }
    return Subfolder::Failed;
}

}  // namespace

Subfolder OpenSubfolder(const FolderPtr& parent, const std::string& name, FolderPtr* out) {
    return TakeStep(parent, name, true, out);
}

PathStatus StatIn(const Folder& folder, const std::string& name) {
    PathStatus status;
    const platform::held::Status found =
        platform::held::StatusOf(FolderAccess::Handle(folder), WideName(name).name());
    if (!found.exists) return status;
    status.isLink = (found.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    status.kind = found.folder ? PathKind::Directory : PathKind::File;
    status.size = found.size;
    status.writeSeconds = FileTimeToSeconds(found.writeTime);
    status.attributes = static_cast<uint16_t>(found.attributes & 0x27);
    if (found.identified) status.id = found.id;
    return status;
}

bool FreeBytesIn(const Folder& folder, uint64_t* bytes) {
    return platform::held::FreeBytes(FolderAccess::Handle(folder), bytes);
}

int CreateFileIn(const Folder& folder, const std::string& name) {
    return ToDescriptor(
        platform::held::CreateFileIn(FolderAccess::Handle(folder), WideName(name).name(), nullptr));
}

int CreateTemporaryIn(const Folder& folder, std::string* name) {
    return ToDescriptor(CreateTemporary(folder, name));
}

bool FinishCreated(int fd, const Folder& folder, const std::string& created,
                   const std::string& target, bool keep) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    // A failed rename has removed the file already.
    if (keep && created != target)
        keep = platform::held::RenameOpenFile(file, FolderAccess::Handle(folder),
                                              WideName(target).name(), true);
    else if (!keep)
        platform::held::RemoveOpenFile(file);
    const DWORD error = GetLastError();
    // The writes were made and checked before: a close has nothing left to fail on.
    const bool closed = _close(fd) == 0;
    SetLastError(error);
    return keep && closed;
}

bool TemporaryFile::Create(FolderPtr folder) {
    Remove();
    if (!folder) return false;
    std::string name;
    // Held open until it is renamed or removed: no one else can rename or delete it.
    HANDLE file = CreateTemporary(*folder, &name);
    if (file == nullptr) return false;
    handle_ = reinterpret_cast<intptr_t>(file);
    name_ = name;
    path_ = Join(folder->path(), name);
    folder_ = std::move(folder);
    return true;
}

int TemporaryFile::OpenForWriting() const {
    HANDLE copy = nullptr;
    if (handle_ == -1 ||
        !DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(handle_),
                         GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return -1;
    return ToDescriptor(copy);
}

bool TemporaryFile::RenameTo(const std::string& name, bool replace) {
    if (handle_ == -1) return false;
    // Through the handle, in the held folder: the name is never looked up again. A
    // failed rename has removed the file.
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    const bool renamed = platform::held::RenameOpenFile(file, FolderAccess::Handle(*folder_),
                                                        WideName(name).name(), replace);
    CloseHandle(file);
    handle_ = -1;
    folder_.reset();
    name_.clear();
    path_.clear();
    return renamed;
}

void TemporaryFile::Remove() {
    if (handle_ != -1) {
        platform::held::RemoveOpenFile(reinterpret_cast<HANDLE>(handle_));
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
    handle_ = -1;
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
    const std::wstring wide = Wide(path);
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (wide.empty() || size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD n = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (n == 0 || n >= size) return path;
    full.resize(n);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    return Narrow(full);
}

bool ToCodePage(const std::string& hostText, unsigned codePage, std::string* out,
                std::string* error) {
    std::wstring wide;
    if (!CodePageAvailable(codePage)) {
        *error = "code page " + std::to_string(codePage) + " is not available on this system";
        return false;
    }
    if (!ToWide(hostText, CP_UTF8, &wide) || !FromWide(wide, codePage, out)) {
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
    const bool c1 =
        ToWide(text, codePage, &wide) &&
        std::any_of(wide.begin(), wide.end(), [](wchar_t c) { return c >= 0x80 && c <= 0x9F; });
    if (c1 || !ToWide(text, codePage, &wide) || !FromWide(wide, CP_UTF8, out)) {
        *error = "it has bytes that code page " + std::to_string(codePage) + " does not define";
        return false;
    }
    return true;
}

bool CodePageAvailable(unsigned codePage) { return IsValidCodePage(codePage) != 0; }

std::vector<std::string> Arguments(int argc, char** argv) {
    // The C runtime's own split of the UTF-16 command line, the same rules as for argv.
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    StartupInfo startup{};
    if (__wgetmainargs(&count, &wide, &environment, 0, &startup) < 0 || wide == nullptr)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i], wcslen(wide[i])));
    return arguments;
}

namespace {
UINT gConsoleOutputCodePage = 0;
void RestoreConsole() { SetConsoleOutputCP(gConsoleOutputCodePage); }
}  // namespace

void PrepareOutput() {
    DWORD mode;
    const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
                         GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
    if (!console || gConsoleOutputCodePage != 0) return;
    gConsoleOutputCodePage = GetConsoleOutputCP();
    // The console's code page outlives the program: it is put back at the end.
    if (SetConsoleOutputCP(CP_UTF8)) std::atexit(&RestoreConsole);
}

int OpenForReading(const std::string& path, bool regularOnly) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    if (regularOnly && GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        SetLastError(ERROR_BAD_FILE_TYPE);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) CloseHandle(file);
    return fd;
}

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

// ---------------------------------------------------------------------------
// The inputs of an archive: names listed, folders opened and files read through the wide
// calls, with host text converted in one place.

namespace {

uint64_t Ticks(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// What attributes, a size and a last-write time say of a name.
void Describe(DWORD a, uint64_t size, const FILETIME& written, FolderItem* item) {
    item->status.isLink = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    item->status.kind = (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory
                        : (a & FILE_ATTRIBUTE_DEVICE)  ? PathKind::Other
                                                       : PathKind::File;
    item->status.size = size;
    item->status.writeSeconds = FileTimeToSeconds(Ticks(written));
    item->status.attributes = static_cast<uint16_t>(a & 0x37);
    item->stamp = FileStamp{size, static_cast<int64_t>(Ticks(written))};
}

}  // namespace

bool ListFolder(const Folder& folder, std::vector<FolderItem>* items) {
    items->clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Wide(Join(folder.path(), "*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        FolderItem item;
        item.name = Narrow(name);
        // A lone surrogate, which UTF-8 cannot spell, became '?': no file has that name,
        // and the kind stays Missing.
        if (Wide(item.name) == name)
            Describe(data.dwFileAttributes,
                     (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                     data.ftLastWriteTime, &item);
        items->push_back(std::move(item));
    } while (FindNextFileW(find, &data));
    const DWORD error = GetLastError();
    FindClose(find);
    SetLastError(error);
    std::sort(items->begin(), items->end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return error == ERROR_NO_MORE_FILES;
}

bool StatItem(const Folder& folder, const std::string& name, bool followLink, FolderItem* item) {
    const std::wstring path = Wide(Join(folder.path(), name));
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    item->name = name;
    Describe(data.dwFileAttributes,
             (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
             data.ftLastWriteTime, item);
    if (followLink && item->status.isLink) {
        // What the link leads to, through a handle that follows it.
        HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        BY_HANDLE_FILE_INFORMATION info;
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        if (!ok) return false;
        Describe(info.dwFileAttributes,
                 (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                 info.ftLastWriteTime, item);
    }
    return true;
}

Subfolder OpenExistingSubfolder(const FolderPtr& parent, const std::string& name, FolderPtr* out) {
    return TakeStep(parent, name, false, out);
}

InputKind OpenInput(const Folder& folder, const std::string& name, bool followLink, int* fd,
                    FileStamp* stamp) {
    HANDLE h = nullptr;
    if (followLink) {
        // A path the person named: a link there is what they asked for.
        h = CreateFileW(Wide(Join(folder.path(), name)).c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return InputKind::Failed;
    } else {
        using platform::held::Step;
        switch (platform::held::OpenFileToRead(FolderAccess::Handle(folder), WideName(name).name(),
                                               &h)) {
            case Step::Opened:
            case Step::Made:
                break;
            case Step::Link:
                return InputKind::Link;
            case Step::NotFolder:
                return InputKind::Folder;
            case Step::Failed:
                return InputKind::Failed;
        }
    }
    BY_HANDLE_FILE_INFORMATION info;
    InputKind kind = InputKind::Failed;
    if (GetFileInformationByHandle(h, &info)) {
        const DWORD a = info.dwFileAttributes;
        kind = (a & FILE_ATTRIBUTE_DIRECTORY) ? InputKind::Folder
               : GetFileType(h) != FILE_TYPE_DISK || (a & FILE_ATTRIBUTE_DEVICE)
                   ? InputKind::Special
                   : InputKind::File;
        *stamp = FileStamp{(static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                           static_cast<int64_t>(Ticks(info.ftLastWriteTime))};
    }
    if (kind != InputKind::File) {
        const DWORD error = GetLastError();
        CloseHandle(h);
        SetLastError(error);
        return kind;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(h);
        return InputKind::Failed;
    }
    *fd = descriptor;
    return kind;
}

bool StampOf(int fd, FileStamp* stamp) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &info))
        return false;
    *stamp = FileStamp{(static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                       static_cast<int64_t>(Ticks(info.ftLastWriteTime))};
    return true;
}

SystemError LastError() {
    const DWORD code = GetLastError();
    const int crt = errno;
    SystemError error;
    if (code == 0) {
        // A failure of the C runtime alone.
        error.text = std::strerror(crt);
        error.diskFull = crt == ENOSPC;
        return error;
    }
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text ? text : L"", n);
    if (text) LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.'))
        wide.pop_back();
    if (wide.empty() || !FromWide(wide, CP_UTF8, &error.text))
        error.text = "system error " + std::to_string(code);
    error.diskFull = code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL;
    return error;
}

}  // namespace host
