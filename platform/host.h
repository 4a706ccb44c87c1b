// Operating-system services of the command-line tool, beside those of platform.h:
// what a path is, the names in a folder, folders made, code-page conversion of names,
// the terminal, and the interrupt key. Implemented in posix/host_posix.cpp and
// win32/host_win32.cpp; the tool includes no OS header itself.
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
// folders from being renamed or deleted meanwhile), so a folder checked once stays the
// folder written to, and no link below it is ever passed through.

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
// it is a folder itself, the kind File.
PathStatus StatIn(const Folder& folder, const std::string& name);

// Creates the file `name` in `folder` for writing, exclusively: nothing that exists
// under that name (a file, a link, a dangling link) is opened or followed. A descriptor
// of platform.h, or -1.
int CreateFileIn(const Folder& folder, const std::string& name);
// Likewise under a fresh random name, returned in `name`.
int CreateTemporaryIn(const Folder& folder, std::string* name);
// Sets the last access and last write times of an open file (seconds since 1970 UTC).
bool SetFileTimesOf(int fd, int64_t accessSeconds, int64_t writeSeconds);
// Renames `from` to `to` in `folder`, replacing what has that name (a link itself, never
// what it points to).
bool RenameIn(const Folder& folder, const std::string& from, const std::string& to);
// Removes the file `name` from `folder`; true when it is gone.
bool RemoveIn(const Folder& folder, const std::string& name);

// A new file, under a fresh random name, for code that opens files by path itself (the
// library, the archive writer). While this object lives, path() names this file and no
// other: on POSIX it lies in a folder of its own that only this user can change, reached
// through the descriptor of the folder; on Windows it is held open so that it cannot be
// deleted or renamed. The file is removed with this object unless it was renamed.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { Remove(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Makes the file in `folder`; false when it cannot.
    bool Create(FolderPtr folder);
    const std::string& path() const { return path_; }
    // Renames the file over `name` in its folder; afterwards this object holds nothing.
    bool RenameTo(const std::string& name);
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

// Converts a host name (UTF-8 on POSIX, the ANSI code page on Windows) to Windows code
// page `codePage`, refusing characters the code page cannot hold. False with a reason.
bool ToCodePage(const std::string& hostText, unsigned codePage, std::string* out,
                std::string* error);
// The reverse: bytes in code page `codePage` to a host name.
bool FromCodePage(const std::string& text, unsigned codePage, std::string* out, std::string* error);
// Whether code page `codePage` can be converted to and from on this system.
bool CodePageAvailable(unsigned codePage);

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
// Whether host text is UTF-8 (POSIX), where a character may take several bytes and C1
// controls are two; otherwise it is the ANSI code page, counted a column a byte.
bool TextIsUtf8();
// The UTC calendar fields of `seconds` since 1970; false when the system cannot tell them.
bool UtcCalendarTime(int64_t seconds, std::tm* out);
// Whether a path found by ListDirectory stands for a name the host's narrow names cannot
// spell: Windows puts '?' for the missing characters, and no file has that name.
bool NameLostCharacters(const std::string& path);

// Threads are the platform layer's (platform.h); the tool names them here as before.
using platform::Condition;
using platform::Locked;
using platform::Mutex;
using platform::ProcessorCount;
using platform::Thread;

}  // namespace host
