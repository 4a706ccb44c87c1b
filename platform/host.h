// Operating-system services of the command-line tool, beside those of platform.h:
// what a path is, the names in a folder, folders made, code-page conversion of names,
// the terminal, and the interrupt key. Implemented in posix/host_posix.cpp and
// win32/host_win32.cpp; the tool includes no OS header itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

enum class PathKind { Missing, File, Directory, Other };

struct PathStatus {
    PathKind kind = PathKind::Missing;
    bool isLink = false;          // the path itself is a symbolic link
    uint64_t size = 0;
    int64_t writeSeconds = 0;     // last write, seconds since 1970 UTC
    uint16_t attributes = 0x20;   // Win32 attribute bits (read-only 1, hidden 2, system 4, archive 0x20)
};

// Status of `path`, following a symbolic link (isLink tells that there was one).
PathStatus Stat(const std::string& path);

// The names in folder `path`, without "." and "..", sorted bytewise. False when the
// folder cannot be read.
bool ListDirectory(const std::string& path, std::vector<std::string>* names);

// Makes one folder; true when it exists afterwards. `created` (may be null) tells
// whether this call made it.
bool MakeDirectory(const std::string& path, bool* created = nullptr);
// Removes a file; true when it is gone.
bool RemoveFile(const std::string& path);
// Renames a file, replacing an existing one.
bool RenameFile(const std::string& from, const std::string& to);

// The separator of host paths the tool builds.
char PathSeparator();
// Whether file names that differ only in case name the same file (Windows).
bool NamesIgnoreCase();
// Absolute form of `path`, with "." and ".." resolved textually.
std::string AbsolutePath(const std::string& path);

// Converts a host name (UTF-8 on POSIX, the ANSI code page on Windows) to Windows code
// page `codePage`, refusing characters the code page cannot hold. False with a reason.
bool ToCodePage(const std::string& hostText, unsigned codePage, std::string* out, std::string* error);
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

// Process id, for unique temporary names.
unsigned ProcessId();

// The full path of the running executable; empty when it cannot be told.
// (posix/host_program_posix.cpp, win32/host_program_win32.cpp)
std::string ExecutablePath();
// Columns of the terminal on descriptor `fd`; 80 when it cannot be told.
int TerminalColumns(int fd);

// Threads: a second thread of the tool, and the lock and condition it shares with the
// first (Win32 threads on Windows, POSIX threads elsewhere).
class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void Lock();
    void Unlock();

private:
    friend class Condition;
    alignas(16) unsigned char storage_[64];
};

class Condition {
public:
    Condition();
    ~Condition();
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;
    // Unlocks `mutex`, waits for a notification (or a spurious wake-up) and locks it again.
    void Wait(Mutex& mutex);
    void NotifyAll();

private:
    alignas(16) unsigned char storage_[64];
};

class Thread {
public:
    Thread() = default;
    ~Thread() { Join(); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Runs function(argument) on a new thread; false when it cannot be started.
    bool Start(void (*function)(void*), void* argument);
    // Waits for the thread to end (nothing when none runs).
    void Join();

private:
    uintptr_t handle_ = 0;
    bool running_ = false;
};

}  // namespace host
