// POSIX implementation of the tool's host services: stat, opendir, mkdir, iconv for
// the Windows code pages (glibc carries them as "CP<n>"), isatty and SIGINT.
#include "platform/host.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <system_error>

namespace host {
namespace {

void (*gInterruptHandler)() = nullptr;

extern "C" void OnSigint(int) {
    if (gInterruptHandler) gInterruptHandler();
}

// Converts with iconv; false when a character has no mapping or the input is invalid.
bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string result(in.size() * 4 + 16, '\0');
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = result.data();
    size_t outLeft = result.size();
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    const bool flushed = iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    // A non-reversible conversion (rc > 0) substituted something: refuse it too.
    if (rc != 0 || inLeft != 0 || !flushed) return false;
    result.resize(result.size() - outLeft);
    *out = std::move(result);
    return true;
}

// Whether UTF-8 text holds a C1 control character (U+0080 to U+009F: C2 80 to C2 9F).
bool HasC1Control(const std::string& utf8) {
    for (size_t i = 0; i + 1 < utf8.size(); ++i)
        if (static_cast<unsigned char>(utf8[i]) == 0xC2 &&
            static_cast<unsigned char>(utf8[i + 1]) < 0xA0)
            return true;
    return false;
}

std::string CodePageName(unsigned codePage) {
    if (codePage == 65001) return "UTF-8";
    // Windows numbers ISO 8859-n as 28590 + n.
    if (codePage >= 28591 && codePage <= 28606)
        return "ISO-8859-" + std::to_string(codePage - 28590);
    return "CP" + std::to_string(codePage);
}

}  // namespace

PathStatus Stat(const std::string& path) {
    PathStatus status;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return status;
    if (S_ISLNK(st.st_mode)) {
        status.isLink = true;
        if (stat(path.c_str(), &st) != 0) return status;
    }
    if (S_ISREG(st.st_mode))
        status.kind = PathKind::File;
    else if (S_ISDIR(st.st_mode))
        status.kind = PathKind::Directory;
    else
        status.kind = PathKind::Other;
    status.size = static_cast<uint64_t>(st.st_size);
    status.writeSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    status.attributes = status.kind == PathKind::Directory ? 0x10 : 0x20;
    if (!(st.st_mode & S_IWUSR)) status.attributes |= 0x01;
    return status;
}

bool ListDirectory(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    while (dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names->push_back(e->d_name);
    }
    closedir(dir);
    std::sort(names->begin(), names->end());
    return true;
}

bool MakeDirectory(const std::string& path, bool* created) {
    const bool made = mkdir(path.c_str(), 0777) == 0;
    if (created) *created = made;
    if (made) return true;
    return errno == EEXIST && Stat(path).kind == PathKind::Directory;
}

// Folders are held as descriptors that only name them: they serve the *at calls and
// need no read permission.
#ifdef O_PATH
constexpr int kFolderOpen = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderOpen = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

struct FolderAccess {
    static int Fd(const Folder& folder) { return static_cast<int>(folder.handle_); }
    static FolderPtr Make(std::string path, int fd, FolderPtr parent) {
        return FolderPtr(new Folder(std::move(path), fd, std::move(parent)));
    }
};

namespace {

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// `bytes` bytes from the kernel's random source, as hex digits.
bool RandomHex(size_t bytes, std::string* out) {
    unsigned char buffer[32];
    if (bytes > sizeof buffer) return false;
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(buffer + got, bytes - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n < 0 && errno == ENOSYS) {
            // A kernel without the call: its device gives the same bytes.
            const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
            if (fd < 0) return false;
            const bool ok = read(fd, buffer, bytes) == static_cast<ssize_t>(bytes);
            close(fd);
            if (!ok) return false;
            got = bytes;
        } else if (errno != EINTR) {
            return false;
        }
    }
    out->clear();
    for (size_t i = 0; i < bytes; ++i) {
        out->push_back("0123456789abcdef"[buffer[i] >> 4]);
        out->push_back("0123456789abcdef"[buffer[i] & 15]);
    }
    return true;
}

int OpenNew(int folder, const std::string& name) {
    int fd;
    do {
        fd = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Whether the kernel shows open descriptors as paths, so that a path can lead through
// a folder held open rather than through names that could change meanwhile.
bool DescriptorPaths() {
    struct stat st;
    static const bool available = stat("/proc/self/fd", &st) == 0 && S_ISDIR(st.st_mode);
    return available;
}

}  // namespace

Folder::Folder(std::string path, intptr_t handle, std::shared_ptr<const Folder> parent)
    : path_(std::move(path)), handle_(handle), parent_(std::move(parent)) {}

Folder::~Folder() { close(static_cast<int>(handle_)); }

FolderPtr OpenFolder(const std::string& path) {
    const int fd = open(path.empty() ? "." : path.c_str(), kFolderOpen);
    if (fd < 0) return nullptr;
    return FolderAccess::Make(path, fd, nullptr);
}

Subfolder OpenSubfolder(const FolderPtr& parent, const std::string& name, FolderPtr* out) {
    const int at = FolderAccess::Fd(*parent);
    bool made = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = openat(at, name.c_str(), kFolderOpen | O_NOFOLLOW);
        if (fd >= 0) {
            // The descriptor alone keeps naming this folder; the ones above need not stay open.
            *out = FolderAccess::Make(Join(parent->path(), name), fd, nullptr);
            return made ? Subfolder::Made : Subfolder::Opened;
        }
        if (errno == ENOENT) {
            // Made here, or by someone else meanwhile: either way, opened next round.
            made = mkdirat(at, name.c_str(), 0777) == 0;
            if (!made && errno != EEXIST) return Subfolder::Failed;
            continue;
        }
        struct stat st;
        if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Subfolder::Failed;
        if (S_ISLNK(st.st_mode)) return Subfolder::Link;
        if (!S_ISDIR(st.st_mode)) return Subfolder::NotFolder;
        return Subfolder::Failed;
    }
    return Subfolder::Failed;
}

PathStatus StatIn(const Folder& folder, const std::string& name) {
    PathStatus status;
    struct stat st;
    if (fstatat(FolderAccess::Fd(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return status;
    status.isLink = S_ISLNK(st.st_mode);
    status.kind = S_ISDIR(st.st_mode)                    ? PathKind::Directory
                  : S_ISREG(st.st_mode) || status.isLink ? PathKind::File
                                                         : PathKind::Other;
    status.size = static_cast<uint64_t>(st.st_size);
    status.writeSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    status.attributes = status.kind == PathKind::Directory ? 0x10 : 0x20;
    status.device = static_cast<uint64_t>(st.st_dev);
    status.id = static_cast<uint64_t>(st.st_ino);
    return status;
}

bool FreeBytesIn(const Folder& folder, uint64_t* bytes) {
    struct statvfs st;
    if (fstatvfs(FolderAccess::Fd(folder), &st) != 0) return false;
    *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
}

int CreateFileIn(const Folder& folder, const std::string& name) {
    return OpenNew(FolderAccess::Fd(folder), name);
}

int CreateTemporaryIn(const Folder& folder, std::string* name) {
    // A name already taken is a planted one, or chance: try a few fresh ones.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string random;
        if (!RandomHex(12, &random)) return -1;
        *name = ".vorx-" + random + ".tmp";
        const int fd = OpenNew(FolderAccess::Fd(folder), *name);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool FinishCreated(int fd, const Folder& folder, const std::string& created,
                   const std::string& target, bool keep) {
    const int at = FolderAccess::Fd(folder);
    struct stat held, named;
    const bool identified = fstat(fd, &held) == 0;
    keep = close(fd) == 0 && keep;
    if (keep && (created == target || renameat(at, created.c_str(), at, target.c_str()) == 0))
        return true;
    // Removed only while the name is still the file made: what else stands there now was
    // put by someone else, and unlinking never follows a link.
    const int error = errno;
    if (identified && fstatat(at, created.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino)
        unlinkat(at, created.c_str(), 0);
    errno = error;
    return false;
}

namespace {
constexpr char kTemporaryFileName[] = "data";
}

bool TemporaryFile::Create(FolderPtr folder) {
    Remove();
    if (!folder) return false;
    const int at = FolderAccess::Fd(*folder);
    // A folder of this user's alone: no one else can put a link where the file goes.
    for (int attempt = 0; attempt < 8 && name_.empty(); ++attempt) {
        std::string random;
        if (!RandomHex(12, &random)) return false;
        const std::string name = ".vorx-" + random + ".tmp";
        if (mkdirat(at, name.c_str(), 0700) == 0)
            name_ = name;
        else if (errno != EEXIST)
            return false;
    }
    if (name_.empty()) return false;
    const int fd = openat(at, name_.c_str(), kFolderOpen | O_NOFOLLOW);
    folder_ = std::move(folder);
    if (fd < 0) {
        Remove();
        return false;
    }
    handle_ = fd;
    const int file = OpenNew(fd, kTemporaryFileName);
    if (file < 0) {
        Remove();
        return false;
    }
    close(file);
    path_ = DescriptorPaths() ? "/proc/self/fd/" + std::to_string(fd) + "/" + kTemporaryFileName
                              : Join(Join(folder_->path(), name_), kTemporaryFileName);
    return true;
}

int TemporaryFile::OpenForWriting() const {
    if (handle_ < 0) return -1;
    return openat(static_cast<int>(handle_), kTemporaryFileName, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
}

namespace {

// Renames `from` in folder `fromAt` to `to` in folder `toAt`, failing (EEXIST) when the
// file system finds a file under the new name, by whatever spelling it accepts for it.
bool RenameWithoutReplacing(int fromAt, const char* from, int toAt, const char* to) {
    if (renameat2(fromAt, from, toAt, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot: a second name made exclusively (the first goes with the
    // private folder), or where it has no second names, a look before the rename.
    if (linkat(fromAt, from, toAt, to, 0) == 0) return true;
    if (errno == EEXIST) return false;
    struct stat st;
    if (fstatat(toAt, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return renameat(fromAt, from, toAt, to) == 0;
}

}  // namespace

bool TemporaryFile::RenameTo(const std::string& name, bool replace) {
    if (handle_ < 0) return false;
    const int from = static_cast<int>(handle_), to = FolderAccess::Fd(*folder_);
    if (replace ? renameat(from, kTemporaryFileName, to, name.c_str()) != 0
                : !RenameWithoutReplacing(from, kTemporaryFileName, to, name.c_str()))
        return false;
    Remove();
    return true;
}

void TemporaryFile::Remove() {
    if (handle_ >= 0) {
        unlinkat(static_cast<int>(handle_), kTemporaryFileName, 0);
        close(static_cast<int>(handle_));
        handle_ = -1;
    }
    if (folder_ && !name_.empty())
        unlinkat(FolderAccess::Fd(*folder_), name_.c_str(), AT_REMOVEDIR);
    folder_.reset();
    name_.clear();
    path_.clear();
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

char PathSeparator() { return '/'; }

bool NamesIgnoreCase() { return false; }

std::string AbsolutePath(const std::string& path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        char buffer[4096];
        if (!getcwd(buffer, sizeof buffer)) return path;
        full = std::string(buffer) + "/" + path;
    }
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= full.size()) {
        size_t j = full.find('/', i);
        if (j == std::string::npos) j = full.size();
        const std::string part = full.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

bool ToCodePage(const std::string& hostText, unsigned codePage, std::string* out,
                std::string* error) {
    if (!CodePageAvailable(codePage)) {
        *error = "code page " + std::to_string(codePage) + " is not available on this system";
        return false;
    }
    if (!Convert(CodePageName(codePage).c_str(), "UTF-8", hostText, out)) {
        *error = "it has characters that code page " + std::to_string(codePage) + " cannot hold";
        return false;
    }
    return true;
}

bool FromCodePage(const std::string& text, unsigned codePage, std::string* out,
                  std::string* error) {
    if (!CodePageAvailable(codePage)) {
        *error = "code page " + std::to_string(codePage) + " is not available on this system";
        return false;
    }
    if (!Convert("UTF-8", CodePageName(codePage).c_str(), text, out) || HasC1Control(*out)) {
        *error = "it has bytes that code page " + std::to_string(codePage) + " does not define";
        return false;
    }
    return true;
}

bool CodePageAvailable(unsigned codePage) {
    iconv_t cd = iconv_open("UTF-8", CodePageName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareOutput() {}

int OpenForReading(const std::string& path, bool regularOnly) {
    if (!regularOnly) return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    // Not blocking on a FIFO swapped in for the file: only a regular file is kept.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

bool ReadLine(std::string* line) { return static_cast<bool>(std::getline(std::cin, *line)); }

void OnInterrupt(void (*handler)()) {
    gInterruptHandler = handler;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = &OnSigint;
    // The first Ctrl+C asks for a clean stop; a second one ends the process at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

// ---------------------------------------------------------------------------
// The inputs of an archive.

namespace {

PathStatus StatusFrom(const struct stat& st, bool link) {
    PathStatus status;
    status.isLink = link;
    status.kind = S_ISDIR(st.st_mode)   ? PathKind::Directory
                  : S_ISREG(st.st_mode) ? PathKind::File
                                        : PathKind::Other;
    status.size = static_cast<uint64_t>(st.st_size);
    status.writeSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    status.attributes = status.kind == PathKind::Directory ? 0x10 : 0x20;
    if (!(st.st_mode & S_IWUSR)) status.attributes |= 0x01;
    return status;
}

FileStamp StampFrom(const struct stat& st) {
    return FileStamp{static_cast<uint64_t>(st.st_size),
                     static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

bool ListFolder(const Folder& folder, std::vector<FolderItem>* items) {
    items->clear();
    // The held descriptor only names the folder; reading it takes one opened for reading.
    const int fd = openat(FolderAccess::Fd(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return false;
    }
    errno = 0;
    while (dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        FolderItem item;
        item.name = e->d_name;
        struct stat st;
        // A name that vanished meanwhile stays Missing: it is reported when it is read.
        if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            item.status = StatusFrom(st, S_ISLNK(st.st_mode));
            item.stamp = StampFrom(st);
        }
        items->push_back(std::move(item));
        errno = 0;
    }
    const int saved = errno;
    closedir(dir);
    errno = saved;
    std::sort(items->begin(), items->end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return saved == 0;
}

bool StatItem(const Folder& folder, const std::string& name, bool followLink, FolderItem* item) {
    struct stat st;
    if (fstatat(FolderAccess::Fd(folder), name.c_str(), &st,
                followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    item->name = name;
    item->status = StatusFrom(st, S_ISLNK(st.st_mode));
    item->stamp = StampFrom(st);
    return true;
}

Subfolder OpenExistingSubfolder(const FolderPtr& parent, const std::string& name, FolderPtr* out) {
    const int at = FolderAccess::Fd(*parent);
    const int fd = openat(at, name.c_str(), kFolderOpen | O_NOFOLLOW);
    if (fd >= 0) {
        *out = FolderAccess::Make(Join(parent->path(), name), fd, nullptr);
        return Subfolder::Opened;
    }
    const int saved = errno;
    struct stat st;
    if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) return Subfolder::Link;
        if (!S_ISDIR(st.st_mode)) return Subfolder::NotFolder;
    }
    errno = saved;
    return Subfolder::Failed;
}

InputKind OpenInput(const Folder& folder, const std::string& name, bool followLink, int* fd,
                    FileStamp* stamp) {
    const int at = FolderAccess::Fd(folder);
    const int follow = followLink ? 0 : AT_SYMLINK_NOFOLLOW;
    // Judged before the open as well, so that no device is opened at all unless one was
    // swapped in between; O_NONBLOCK keeps even that open from waiting.
    struct stat st;
    if (fstatat(at, name.c_str(), &st, follow) != 0) return InputKind::Failed;
    if (S_ISLNK(st.st_mode)) return InputKind::Link;
    if (S_ISDIR(st.st_mode)) return InputKind::Folder;
    if (!S_ISREG(st.st_mode)) return InputKind::Special;
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    int opened;
    do {
        opened = openat(at, name.c_str(), flags);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) return errno == ELOOP && !followLink ? InputKind::Link : InputKind::Failed;
    InputKind kind = InputKind::Failed;
    if (fstat(opened, &st) == 0)
        kind = S_ISREG(st.st_mode)   ? InputKind::File
               : S_ISDIR(st.st_mode) ? InputKind::Folder
                                     : InputKind::Special;
    // Regular files never wait; the flag goes so that reads behave as usual.
    if (kind == InputKind::File && fcntl(opened, F_SETFL, O_RDONLY) != 0) kind = InputKind::Failed;
    if (kind != InputKind::File) {
        const int saved = errno;
        close(opened);
        errno = saved;
        return kind;
    }
    posix_fadvise(opened, 0, 0, POSIX_FADV_SEQUENTIAL);
    *fd = opened;
    *stamp = StampFrom(st);
    return kind;
}

bool StampOf(int fd, FileStamp* stamp) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    *stamp = StampFrom(st);
    return true;
}

SystemError LastError() {
    const int e = errno;
    SystemError error;
    error.text = std::system_category().message(e);
    error.diskFull = e == ENOSPC || e == EDQUOT;
    return error;
}

}  // namespace host
