// Steps below a held folder through ntdll. Measured under Wine, whose folders are Linux
// folders: a relative open follows the held folder wherever it was moved (the step is
// taken from its descriptor), and so does reopening it with an empty name; a Linux
// symbolic link to a folder opened without following gives a handle of the folder it
// points to, with no reparse attribute, while the folder's listing shows the name as a
// reparse point; a handle's final path is its path looked up again when asked (a swapped
// name gives the new one's), so it proves nothing; querying attributes by a root handle
// is not supported, opening is.
#include "platform/win32/held_folders.h"

#include <winternl.h>

#include <atomic>
#include <cstring>

namespace platform {
namespace held {
namespace {

constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kInvalidName = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS kNoEntryPoint = static_cast<NTSTATUS>(0xC0000139);

// Tries of a rename that another program's open handle keeps out (waiting 10, 20, ... ms).
constexpr DWORD kRenameAttempts = 8;

// The longest component a Windows file system holds.
constexpr size_t kMaxComponent = 255;

// What a held folder may do: be the root of the next step and be asked what it is.
constexpr ACCESS_MASK kFolderAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// ntdll's functions, looked up at their first use. Atomic slots rather than a static
// with a guard: the guard would bring the C++ runtime's exception support into the stub.
template <typename Function>
class NtFunction {
public:
    explicit constexpr NtFunction(const char* name) : name_(name) {}
    Function get() {
        void* function = slot_.load(std::memory_order_acquire);
        if (function == nullptr) {
            if (HMODULE module = GetModuleHandleW(L"ntdll.dll"))
                function = reinterpret_cast<void*>(GetProcAddress(module, name_));
            slot_.store(function, std::memory_order_release);
        }
        return reinterpret_cast<Function>(function);
    }

private:
    const char* name_;
    std::atomic<void*> slot_{nullptr};
};

NtFunction<NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                            PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG)>
    gCreateFile("NtCreateFile");
NtFunction<NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS)>
    gQueryFile("NtQueryInformationFile");
NtFunction<NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS)>
    gSetFile("NtSetInformationFile");
NtFunction<NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG)> gQueryVolume(
    "NtQueryVolumeInformationFile");
NtFunction<NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                            FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN)>
    gQueryDirectory("NtQueryDirectoryFile");
NtFunction<ULONG(NTAPI*)(NTSTATUS)> gToError("RtlNtStatusToDosError");

// Keeps the status as the thread's last error, for messages; true on success.
bool Succeeded(NTSTATUS status) {
    if (status >= 0) return true;
    const auto toError = gToError.get();
    SetLastError(toError ? toError(status) : ERROR_INVALID_FUNCTION);
    return false;
}

// A name that stays one entry of the folder: no separator, no stream, no wildcard (the
// check lists the folder by the name), not "." or "..".
bool IsPlainName(Name name) {
    if (name.length == 0 || name.length > kMaxComponent) return false;
    for (size_t i = 0; i < name.length; ++i) {
        const wchar_t c = name.text[i];
        if (c < 0x20 || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' ||
            c == L'<' || c == L'>' || c == L'"')
            return false;
    }
    return !(name.text[0] == L'.' &&
             (name.length == 1 || (name.length == 2 && name.text[1] == L'.')));
}

// Opens `name` relative to `root`; the empty name reopens `root` itself.
NTSTATUS OpenRelative(HANDLE root, Name name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, HANDLE* out, ULONG_PTR* information = nullptr) {
    *out = nullptr;
    const auto createFile = gCreateFile.get();
    if (!createFile) return kNoEntryPoint;
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.text);
    text.Length = text.MaximumLength = static_cast<USHORT>(name.length * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        createFile(out, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                   disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0) *out = nullptr;
    if (information) *information = io.Information;
    return status;
}

NTSTATUS OpenIn(HANDLE root, Name name, ACCESS_MASK access, ULONG share, ULONG disposition,
                ULONG options, HANDLE* out, ULONG_PTR* information = nullptr) {
    *out = nullptr;
    if (!IsPlainName(name)) return kInvalidName;
    return OpenRelative(root, name, access, share, disposition, options, out, information);
}

bool Query(HANDLE file, void* buffer, ULONG size, FILE_INFORMATION_CLASS kind) {
    IO_STATUS_BLOCK io{};
    const auto queryFile = gQueryFile.get();
    return queryFile && Succeeded(queryFile(file, &io, buffer, size, kind));
}

bool Set(HANDLE file, void* buffer, ULONG size, FILE_INFORMATION_CLASS kind) {
    IO_STATUS_BLOCK io{};
    const auto setFile = gSetFile.get();
    return setFile && Succeeded(setFile(file, &io, buffer, size, kind));
}

// Whether `child`, opened as `name` in `parent`, is that entry of the folder as the folder
// lists it: a folder (a file when not `folder`), no reparse point, listed under that very name (not
// another name of it, such as a short alias) and with the child's identity (where the file system
// keeps identities in its listing). A link the system followed anyway lists as a reparse point, or,
// swapped after the open, with another identity. Failed when the folder cannot be listed (or the
// system has no call for it).
Step IsEntryOf(HANDLE parent, HANDLE child, Name name, bool folder = true) {
    uint64_t id = 0;
    HANDLE listing;
    const auto queryDirectory = gQueryDirectory.get();
    // The folder reopened from its handle: a handle lists by the name given first only.
    if (!queryDirectory || !IdOf(child, &id) ||
        !Succeeded(OpenRelative(parent, {L"", 0}, FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                FILE_DIRECTORY_FILE, &listing)))
        return Step::Failed;
    union {
        FILE_ID_BOTH_DIR_INFORMATION info;
        unsigned char bytes[sizeof(FILE_ID_BOTH_DIR_INFORMATION) + kMaxComponent * sizeof(wchar_t)];
    } entry;
    UNICODE_STRING mask;
    mask.Buffer = const_cast<PWSTR>(name.text);
    mask.Length = mask.MaximumLength = static_cast<USHORT>(name.length * sizeof(wchar_t));
    IO_STATUS_BLOCK io{};
    const bool listed =
        Succeeded(queryDirectory(listing, nullptr, nullptr, nullptr, &io, &entry, sizeof entry,
                                 FileIdBothDirectoryInformation, TRUE, &mask, TRUE));
    CloseHandle(listing);
    const FILE_ID_BOTH_DIR_INFORMATION& e = entry.info;
    const uint64_t listedId = static_cast<uint64_t>(e.FileId.QuadPart);
    const bool same =
        listed && e.FileNameLength == mask.Length &&
        CompareStringOrdinal(e.FileName, static_cast<int>(name.length), name.text,
                             static_cast<int>(name.length), TRUE) == CSTR_EQUAL &&
        (e.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            (folder ? FILE_ATTRIBUTE_DIRECTORY : 0u) &&
        (listedId == 0 || listedId == id);
    return same ? Step::Opened : Step::Link;
}

}  // namespace

HANDLE OpenFolderPath(const wchar_t* path) {
    HANDLE folder = CreateFileW(path, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return nullptr;
    FILE_ATTRIBUTE_TAG_INFORMATION tag;
    if (Query(folder, &tag, sizeof tag, FileAttributeTagInformation) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return folder;
    CloseHandle(folder);
    SetLastError(ERROR_DIRECTORY);
    return nullptr;
}

Step OpenSubfolder(HANDLE parent, Name name, HANDLE* out, bool make) {
    ULONG_PTR information = 0;
    const NTSTATUS status =
        OpenIn(parent, name, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
               make ? FILE_OPEN_IF : FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, out,
               &information);
    if (!Succeeded(status)) return status == kNotADirectory ? Step::NotFolder : Step::Failed;
    FILE_ATTRIBUTE_TAG_INFORMATION tag;
    Step step = information == FILE_CREATED ? Step::Made : Step::Opened;
    if (!Query(*out, &tag, sizeof tag, FileAttributeTagInformation))
        step = Step::Failed;
    else if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        step = Step::Link;
    else if (!(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        step = Step::NotFolder;
    else if (const Step listed = IsEntryOf(parent, *out, name); listed != Step::Opened)
        step = listed;
    if (step != Step::Made && step != Step::Opened) {
        CloseHandle(*out);
        *out = nullptr;
    }
    return step;
}

Step OpenFileToRead(HANDLE folder, Name name, HANDLE* out) {
    const NTSTATUS status =
        OpenIn(folder, name, GENERIC_READ | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
               FILE_OPEN, FILE_OPEN_REPARSE_POINT | FILE_SEQUENTIAL_ONLY, out);
    if (!Succeeded(status)) return Step::Failed;
    FILE_ATTRIBUTE_TAG_INFORMATION tag;
    Step step = Step::Opened;
    if (!Query(*out, &tag, sizeof tag, FileAttributeTagInformation))
        step = Step::Failed;
    else if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        step = Step::Link;
    else if (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        step = Step::NotFolder;
    else if (const Step listed = IsEntryOf(folder, *out, name, false); listed != Step::Opened)
        step = listed;
    if (step != Step::Opened) {
        CloseHandle(*out);
        *out = nullptr;
    }
    return step;
}

Status StatusOf(HANDLE folder, Name name) {
    Status status{};
    HANDLE file;
    const NTSTATUS opened = OpenIn(folder, name, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   FILE_OPEN, FILE_OPEN_REPARSE_POINT, &file);
    if (opened == kNameNotFound || opened == kPathNotFound || opened == kNoSuchFile) return status;
    status.exists = true;
    if (opened < 0) return status;
    status.identified = IdOf(file, &status.id);
    FILE_NETWORK_OPEN_INFORMATION info;
    if (Query(file, &info, sizeof info, FileNetworkOpenInformation)) {
        status.attributes = info.FileAttributes;
        status.folder = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        status.size = static_cast<uint64_t>(info.EndOfFile.QuadPart);
        status.writeTime = static_cast<uint64_t>(info.LastWriteTime.QuadPart);
    }
    CloseHandle(file);
    return status;
}

namespace {

// Whether the file system knows the open `file` by `name`: the last component of the
// name it gives the file. A file system may keep another (under Wine a Linux one cuts a
// name longer than its 255 bytes), and opening by the name asked for then still finds
// it. True where it cannot tell.
bool KeepsName(HANDLE file, Name name) {
    union {
        FILE_NAME_INFORMATION info;
        unsigned char bytes[sizeof(FILE_NAME_INFORMATION) + 4 * kMaxComponent * sizeof(wchar_t)];
    } known;
    if (!Query(file, &known, sizeof known, FileNameInformation)) return true;
    const wchar_t* text = known.info.FileName;
    size_t length = known.info.FileNameLength / sizeof(wchar_t);
    for (size_t i = length; i > 0; --i) {
        if (text[i - 1] == L'\\') {
            text += i;
            length -= i;
            break;
        }
    }
    return length == name.length &&
           CompareStringOrdinal(text, static_cast<int>(length), name.text,
                                static_cast<int>(name.length), TRUE) == CSTR_EQUAL;
}

// Whether `name` in `folder`, opened again, is the open `file` (where the file system tells
// identities), under that very name. Opening by the name is not thrown off by changes
// made to other names of the folder meanwhile, as a listing under Wine can be.
bool IsNamed(HANDLE folder, HANDLE file, Name name) {
    uint64_t id = 0;
    const Status placed = StatusOf(folder, name);
    return placed.exists && (!IdOf(file, &id) || !placed.identified || placed.id == id) &&
           KeepsName(file, name);
}

}  // namespace

HANDLE CreateFileIn(HANDLE folder, Name name, bool* taken) {
    HANDLE file;
    const NTSTATUS status =
        OpenIn(folder, name, GENERIC_READ | GENERIC_WRITE | DELETE | SYNCHRONIZE, FILE_SHARE_READ,
               FILE_CREATE, FILE_NON_DIRECTORY_FILE, &file);
    if (taken) *taken = status == kNameCollision;
    if (!Succeeded(status)) return nullptr;
    // The name must lead to the file: a file system may keep another name (under Wine a
    // Linux one cuts a name longer than its 255 bytes), and then two entries could meet
    // in one file. Such a file is removed again, through its handle.
    if (!IsNamed(folder, file, name)) {
        RemoveOpenFile(file);
        CloseHandle(file);
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    return file;
}

bool RenameOpenFile(HANDLE file, HANDLE folder, Name name, bool replace) {
    if (!IsPlainName(name)) return Succeeded(kInvalidName);
    union {
        FILE_RENAME_INFORMATION info;
        unsigned char bytes[sizeof(FILE_RENAME_INFORMATION) + kMaxComponent * sizeof(wchar_t)];
    } rename;
    rename.info.ReplaceIfExists = replace ? TRUE : FALSE;
    rename.info.RootDirectory = folder;
    rename.info.FileNameLength = static_cast<ULONG>(name.length * sizeof(wchar_t));
    std::memcpy(rename.bytes + offsetof(FILE_RENAME_INFORMATION, FileName), name.text,
                name.length * sizeof(wchar_t));
    // A file replaced may be open in another program for a moment (a scanner, an indexer;
    // under Wine anyone who opened what a replaced link points to): a few tries, waiting
    // a little longer each time.
    const ULONG size = static_cast<ULONG>(offsetof(FILE_RENAME_INFORMATION, FileName) +
                                          name.length * sizeof(wchar_t));
    for (DWORD attempt = 1; !Set(file, &rename, size, FileRenameInformation); ++attempt) {
        const DWORD error = GetLastError();
        if (attempt == kRenameAttempts ||
            (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return false;
        Sleep(attempt * 10);
    }
    // The name in the held folder must now be the file. Under Wine a rename is made by
    // paths, so a folder above it swapped by a Linux program (which sharing rules do not
    // stop) can send it elsewhere, and a Linux file system may cut a long name: then it
    // is removed again at once, and the rename fails.
    if (IsNamed(folder, file, name)) return true;
    RemoveOpenFile(file);
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
}

bool RemoveOpenFile(HANDLE file) {
    FILE_DISPOSITION_INFORMATION disposition;
    disposition.DoDeleteFile = TRUE;
    return Set(file, &disposition, sizeof disposition, FileDispositionInformation);
}

bool IdOf(HANDLE file, uint64_t* id) {
    LARGE_INTEGER number;
    if (!Query(file, &number, sizeof number, FileInternalInformation)) return false;
    *id = static_cast<uint64_t>(number.QuadPart);
    return true;
}

bool FreeBytes(HANDLE folder, uint64_t* bytes) {
    FILE_FS_FULL_SIZE_INFORMATION size;
    IO_STATUS_BLOCK io{};
    const auto queryVolume = gQueryVolume.get();
    if (!queryVolume ||
        !Succeeded(queryVolume(folder, &io, &size, sizeof size, FileFsFullSizeInformation)))
        return false;
    *bytes = static_cast<uint64_t>(size.CallerAvailableAllocationUnits.QuadPart) *
             size.SectorsPerAllocationUnit * size.BytesPerSector;
    return true;
}

}  // namespace held
}  // namespace platform
