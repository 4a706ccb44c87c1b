// Operating-system services of the command-line tool, beside those of platform.h:
// what a path is, the names in a folder, folders made, code-page conversion of names,
// the terminal, and the interrupt key. Implemented in posix/host_posix.cpp and
// win32/host_win32.cpp; the tool includes no OS header itself.
//
// Host text (paths, names, the command line, what is printed) is UTF-8 on every system.
// Windows takes it in UTF-16 at every call, so any name works whatever the ANSI code
// page, and a path split at the byte '\\' or '/' is split at a separator (no UTF-8
// sequence holds those bytes).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace host {

enum class PathKind { Missing, File, Directory, Other };

struct PathStatus {
    PathKind kind = PathKind::Missing;
    bool isLink = false;  // the path itself is a symbolic link
    uint64_t size = 0;
    int64_t writeSeconds = 0;  // last write, seconds since 1970 UTC
    uint16_t attributes =
        0x20;  // Win32 attribute bits (read-only 1, hidden 2, system 4, archive 0x20)
    // Which file it is (StatIn only): the device and inode number (POSIX), the file's
    // number on its volume (Windows; device 0). Both 0 where the system does not tell.
    uint64_t device = 0, id = 0;
};

// Status of `path`, following a symbolic link (isLink tells that there was one).
PathStatus Stat(const std::string& path);

// The names in folder `path`, without "." and "..", sorted bytewise. False when the
// folder cannot be read.
bool ListDirectory(const std::string& path, std::vector<std::string>* names);

// Makes one folder; true when it exists afterwards. `created` (may be null) tells
// whether this call made it.
bool MakeDirectory(const std::string& path, bool* created = nullptr);

// ---------------------------------------------------------------------------
// Files made below a folder the user named, where other programs may have planted
// links. A folder is held open while it is used, and each step below it is taken from
// the one above (POSIX: descriptors and the *at calls; Windows: handles that keep the
// folders from being renamed or deleted meanwhile, and ntdll's opens relative to them,
// platform/win32/held_folders.h), so a folder checked once stays the folder written to,
// and no link below it is ever passed through.

class Folder {
public:
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    // The path it was reached by, for messages.
    const std::string& path() const { return path_; }

private:
    Folder(std::string path, intptr_t handle, std::shared_ptr<const Folder> parent);
    friend struct FolderAccess;
    std::string path_;
    intptr_t handle_;                       // POSIX descriptor or Windows handle
    std::shared_ptr<const Folder> parent_;  // Windows: held, so that no folder above is renamed
};
using FolderPtr = std::shared_ptr<const Folder>;

// Opens the folder `path` as the user gave it (a link there is followed). Null when it
// is not a folder that can be opened.
FolderPtr OpenFolder(const std::string& path);

enum class Subfolder { Opened, Made, Link, NotFolder, Failed };
// Opens the folder `name` inside `parent`, making it when it is missing. A link of that
// name (symbolic link, junction, any reparse point) is refused, never followed.
Subfolder OpenSubfolder(const FolderPtr& parent, const std::string& name, FolderPtr* out);

// Status of `name` in `folder`, not following a link: a link has isLink set and, unless
// it is a folder itself, the kind File. (Windows cannot tell every link; what it shows
// as the linked file is reported as that file.)
PathStatus StatIn(const Folder& folder, const std::string& name);
// Bytes this user may still write on the volume of `folder`; false when unknown.
bool FreeBytesIn(const Folder& folder, uint64_t* bytes);

// Creates the file `name` in `folder` for writing, exclusively: nothing that exists
// under that name (a file, a link, a dangling link) is opened or followed. A descriptor
// of platform.h, or -1.
int CreateFileIn(const Folder& folder, const std::string& name);
// Likewise under a fresh random name, returned in `name`.
int CreateTemporaryIn(const Folder& folder, std::string* name);
// Ends a file made by CreateFileIn or CreateTemporaryIn as `created` in `folder` and still
// open as `fd`, closing `fd`: with `keep`, it takes the name `target` (when that differs,
// replacing what has that name: a link itself, never what it points to); without, or when
// a step fails, it is removed. Windows renames and removes through the open file, never
// looking its name up again (a link swapped in for it cannot be followed); POSIX by its
// name in the held folder once it is closed (a close that fails means the file may not
// hold what was written). True when the file is kept under `target`.
bool FinishCreated(int fd, const Folder& folder, const std::string& created,
                   const std::string& target, bool keep);

// ---------------------------------------------------------------------------
// The inputs of an archive, read where other programs may swap a file for a link, a
// FIFO or a device meanwhile: folders are listed through their open handles, and a
// file is opened once, never through a link below the folder given, never waiting,
// and kept only when the open handle shows a regular file.

// When a file was last changed, as finely as the system tells it, and its size.
struct FileStamp {
    uint64_t size = 0;
    int64_t writeTime = 0;  // POSIX: nanoseconds since 1970; Windows: FILETIME ticks
    bool operator==(const FileStamp& o) const { return size == o.size && writeTime == o.writeTime; }
};

// One name in a folder as the folder shows it, not following a link.
struct FolderItem {
    std::string name;
    PathStatus status;  // isLink for a link of any kind; kind Missing when the name
                        // cannot be spelled in host text (Windows: outside the ANSI code page)
    FileStamp stamp;
};
// The names in `folder` (without "." and ".."), sorted bytewise. False when it cannot be
// read (LastError() says why).
bool ListFolder(const Folder& folder, std::vector<FolderItem>* items);
// One name of `folder` as ListFolder tells it, or what a link there leads to when
// `followLink`. False when it cannot be told (LastError() says why).
bool StatItem(const Folder& folder, const std::string& name, bool followLink, FolderItem* item);

// Opens the existing folder `name` in `parent`: a link of that name is refused (Link), never
// followed, and nothing is made (Failed when it is missing).
Subfolder OpenExistingSubfolder(const FolderPtr& parent, const std::string& name, FolderPtr* out);

enum class InputKind { File, Link, Folder, Special, Failed };

// Opens `name` in `folder` for reading. A link there is not followed (Link) unless
// `followLink`; the open never waits (a FIFO, a device); and what the open handle shows is
// judged: only a regular file stays open (File, `*fd` a descriptor of platform.h, `*stamp`
// its size and time). Failed: LastError() says why.
InputKind OpenInput(const Folder& folder, const std::string& name, bool followLink, int* fd,
                    FileStamp* stamp);

// The size and time of an open file; false when they cannot be told.
bool StampOf(int fd, FileStamp* stamp);

// Why the last system call on this thread failed, in the system's words ("No space left on
// device"; FormatMessage on Windows), read before anything else can fail; and whether that
// reason is a full disk (or quota).
struct SystemError {
    std::string text;
    bool diskFull = false;
};
SystemError LastError();

// A new file, under a fresh random name, written through descriptors (OpenForWriting) by
// code that takes one (the library, the archive writer). On POSIX it lies in a folder of
// its own that only this user can change, reached through the descriptor of the folder;
// on Windows it is held open so that no other program can delete or rename it, and it is
// renamed or removed through that handle. The file is removed with this object unless
// it was renamed.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { Remove(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Makes the file in `folder`; false when it cannot.
    bool Create(FolderPtr folder);
    // The file's host path, for messages.
    const std::string& path() const { return path_; }
    // A new descriptor of platform.h that writes this file, for the caller to close; -1
    // when it cannot be made.
    int OpenForWriting() const;
    // Renames the file to `name` in its folder: over a file of that name when `replace`,
    // otherwise failing when the file system finds one. Afterwards this object holds
    // nothing.
    bool RenameTo(const std::string& name, bool replace = true);
    void Remove();

private:
    FolderPtr folder_;
    std::string path_;
    std::string name_;      // in folder_ (POSIX: the name of the private folder)
    intptr_t handle_ = -1;  // POSIX: the private folder; Windows: the file
};

// The parent folder of a user's path ("." when it names none).
std::string ParentFolder(const std::string& path);
// The last component of a path.
std::string LastComponent(const std::string& path);

// The separator of host paths the tool builds.
char PathSeparator();
// Whether file names that differ only in case name the same file (Windows).
bool NamesIgnoreCase();
// Absolute form of `path`, with "." and ".." resolved textually.
std::string AbsolutePath(const std::string& path);

// Converts host text to Windows code page `codePage`, refusing characters the code page
// cannot hold (never a "best fit" stand-in). False with a reason.
bool ToCodePage(const std::string& hostText, unsigned codePage, std::string* out,
                std::string* error);
// The reverse: bytes in code page `codePage` to host text, strictly: bytes the code page
// does not define, and C1 control characters (U+0080 to U+009F, which Windows makes of
// the bytes code page 1252 leaves undefined), are refused.
bool FromCodePage(const std::string& text, unsigned codePage, std::string* out, std::string* error);
// Whether code page `codePage` can be converted to and from on this system.
bool CodePageAvailable(unsigned codePage);

// The program's arguments in host text (Windows: from the UTF-16 command line; `argv`,
// in the ANSI code page, is not used).
std::vector<std::string> Arguments(int argc, char** argv);
// Makes printed host text show as it is: on Windows a console is switched to UTF-8
// while the program runs (a pipe or a file receives UTF-8 as it is everywhere).
void PrepareOutput();
// Opens the file at `path` (a link there is followed) for reading: a descriptor of
// platform.h, or -1. With `regularOnly` only a regular file, never waiting on a device
// or a pipe; without, whatever the person named (a pipe such as /dev/stdin too).
int OpenForReading(const std::string& path, bool regularOnly = true);

bool IsTerminal(int fd);  // 0 standard input, 2 standard error
// Reads one line from the terminal (standard input); false at end of input.
bool ReadLine(std::string* line);

// Calls `handler` (once) when the user presses the interrupt key. The handler runs on a
// signal or console thread: it may only set flags.
void OnInterrupt(void (*handler)());

// The full path of the running executable; empty when it cannot be told.
// (posix/host_program_posix.cpp, win32/host_program_win32.cpp)
std::string ExecutablePath();
// Columns of the terminal on descriptor `fd`; 80 when it cannot be told.
int TerminalColumns(int fd);
// Whether host text is UTF-8, where a character may take several bytes and C1 controls
// are two (it is, on every system this tool is built for).
bool TextIsUtf8();
// The UTC calendar fields of `seconds` since 1970; false when the system cannot tell them.
bool UtcCalendarTime(int64_t seconds, std::tm* out);
// Whether a path found by ListDirectory stands for a name host text cannot spell (on
// Windows a lone UTF-16 surrogate, given as '?', which no file name holds).
bool NameLostCharacters(const std::string& path);

// Threads are the platform layer's (platform.h); the tool names them here as before.
using platform::Condition;
using platform::Locked;
using platform::Mutex;
using platform::ProcessorCount;
// So are the times of an open file.
using platform::SetFileTimesOf;
using platform::Thread;

}  // namespace host
