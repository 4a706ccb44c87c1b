// Operating-system services used by the library, the codec and the writer.
// Nothing else in those layers includes an OS header. Two implementations:
// platform/win32 (C runtime low-level I/O, VirtualAlloc, Win32 time and threads) and
// platform/posix (open/read/pread, mmap, localtime_r, POSIX threads).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// ---------------------------------------------------------------------------
// Files on integer descriptors. Paths are NUL-terminated 8-bit strings (ANSI code
// page on Windows). A valid descriptor is >= 0; -1 means failure.

enum OpenFlags : unsigned {
    kOpenRead = 0x01,        // read only
    kOpenReadWrite = 0x02,   // read and write
    kOpenCreate = 0x04,      // create when missing (read and write permission)
    kOpenTruncate = 0x08,    // truncate to 0 bytes
    kOpenSequential = 0x10,  // sequential-access hint
    kOpenRandom = 0x20,      // random-access hint
    kOpenExclusive = 0x40,   // with kOpenCreate: fail when the file exists
};

enum class Whence { Begin, Current };

int FileOpen(const char* path, unsigned flags);
// Reads up to `count` bytes; returns the number read (0 at end of file) or -1.
int64_t FileRead(int fd, void* buffer, size_t count);
// Writes `count` bytes; returns the number written or -1.
int64_t FileWrite(int fd, const void* buffer, size_t count);
// Reads up to `count` bytes at `offset` (at most INT64_MAX); returns the number read
// (0 at end of file) or -1. Where the file position is afterwards is unspecified.
// Several threads may read one descriptor at once this way.
int64_t FileReadAt(int fd, uint64_t offset, void* buffer, size_t count);
// Moves the file position; returns the new position or -1.
int64_t FileSeek(int fd, int64_t offset, Whence whence);
// Length of the open file in bytes, or -1. The position is not moved.
int64_t FileLength(int fd);
int FileClose(int fd);

// Sets the last access and last write times of an open file (seconds since 1970 UTC);
// false when the system refuses them (on Windows, outside what a FILETIME holds).
bool SetFileTimesOf(int fd, int64_t accessSeconds, int64_t writeSeconds);

// Folder separators in paths: '\' and '/' on Windows; '/' elsewhere, where '\' is an
// ordinary character of a file name.
inline bool IsPathSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// Free bytes available to the calling user on the volume that holds `folder`.
// Returns false when the platform cannot tell.
bool FreeBytesForFolder(const char* folder, uint64_t* freeBytes);

// ---------------------------------------------------------------------------
// Memory in whole pages (4096 bytes). Fresh pages read as zeros.

constexpr size_t kPageSize = 4096;

void* PageAlloc(size_t bytes);  // null on failure
void PageFree(void* pointer, size_t bytes);

// Address space reserved without access, made usable piece by piece.
void* ReserveRange(size_t bytes);               // null on failure
bool CommitRange(void* pointer, size_t bytes);  // read/write; false on failure
void DecommitRange(void* pointer, size_t bytes);
void ReleaseRange(void* pointer, size_t bytes);  // the whole reservation

// ---------------------------------------------------------------------------
// Time.

// Calendar record of the platform (the fields of a Windows SYSTEMTIME).
struct CalendarTime {
    uint16_t year;
    uint16_t month;      // 1..12
    uint16_t dayOfWeek;  // 0 = Sunday
    uint16_t day;        // 1..31
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};

// Current time in seconds since 1970 UTC.
int64_t CurrentTime();

// The local-time conversions below read the time zone once per process; a program that
// changes TZ afterwards calls tzset() (on Windows _tzset()) for them to follow.

// Converts seconds since 1970 UTC to local calendar time with the runtime's rules
// (daylight saving of that date applied). False when it cannot be represented.
bool LocalCalendarTime(int64_t seconds, CalendarTime* out);

// The runtime's time-zone offset for standard time, in minutes west of UTC
// (the TZ variable when it is set, else the system's setting). No daylight saving.
int32_t TimeZoneBiasMinutes();

// An instant (seconds since 1970 UTC) as a FILETIME (100 ns since 1601), exactly; false
// when it lies before 1601 or beyond what a FILETIME holds.
inline bool UtcFileTime(int64_t seconds, uint64_t* fileTime) {
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    constexpr int64_t kTicksPerSecond = 10000000;
    if (seconds < -kSecondsFrom1601To1970 ||
        seconds > INT64_MAX / kTicksPerSecond - kSecondsFrom1601To1970)
        return false;
    *fileTime = static_cast<uint64_t>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
    return true;
}

// Calendar time to FILETIME (100 ns since 1601), no zone applied. False when invalid.
bool CalendarToFileTime(const CalendarTime& calendar, uint64_t* fileTime);

// Local FILETIME to UTC with the system's present bias (daylight saving as of now).
bool LocalFileTimeToUtc(uint64_t localFileTime, uint64_t* utcFileTime);

// ---------------------------------------------------------------------------
// Threads, and the lock and condition they share (POSIX threads; on Windows the
// runtime's threads with slim locks, since mingw's win32 thread model has no
// std::thread). None of these allocate.

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

// Holds a mutex for a scope.
class Locked {
public:
    explicit Locked(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~Locked() { mutex_.Unlock(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    Mutex& mutex_;
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

// The processors this process may run on (its affinity mask; at least 1).
unsigned ProcessorCount();

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
    friend struct ThreadEntry;
    void (*function_)(void*) = nullptr;
    void* argument_ = nullptr;
    uintptr_t handle_ = 0;
    bool running_ = false;
};

}  // namespace platform
