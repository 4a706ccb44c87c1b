// Win32 implementation of the platform layer: the C runtime's low-level file
// functions and 64-bit time functions, positioned ReadFile, VirtualAlloc/VirtualFree,
// GetDiskFreeSpaceExA, SystemTimeToFileTime and LocalFileTimeToFileTime, the runtime's
// threads with slim reader/writer locks and condition variables.
#include "platform/platform.h"

#include <windows.h>

#include <fcntl.h>
#include <stdio.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <time.h>

namespace platform {

int FileOpen(const char* path, unsigned flags) {
    int oflags = _O_BINARY | _O_NOINHERIT;
    oflags |= (flags & kOpenReadWrite) ? _O_RDWR : _O_RDONLY;
    if (flags & kOpenCreate) oflags |= _O_CREAT;
    if (flags & kOpenTruncate) oflags |= _O_TRUNC;
    if ((flags & kOpenExclusive) && (flags & kOpenCreate)) oflags |= _O_EXCL;
    if (flags & kOpenSequential) oflags |= _O_SEQUENTIAL;
    if (flags & kOpenRandom) oflags |= _O_RANDOM;
    return _open(path, oflags, _S_IREAD | _S_IWRITE);
}

int64_t FileRead(int fd, void* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        size_t chunk = count - done;
        if (chunk > (1u << 30)) chunk = 1u << 30;
        int n = _read(fd, static_cast<char*>(buffer) + done, static_cast<unsigned>(chunk));
        if (n < 0) return done ? static_cast<int64_t>(done) : -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

// ReadFile at an offset of its own: the system serializes the reads of a synchronous
// handle, so threads that share the descriptor each read where they ask (a seek and a
// read would race for the one file position).
int64_t FileReadAt(int fd, uint64_t offset, void* buffer, size_t count) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (file == INVALID_HANDLE_VALUE) return -1;
    size_t done = 0;
    while (done < count) {
        const size_t chunk = count - done < (1u << 30) ? count - done : (1u << 30);
        const uint64_t at = offset + done;
        OVERLAPPED position = {};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        if (!ReadFile(file, static_cast<char*>(buffer) + done, static_cast<DWORD>(chunk), &n,
                      &position)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return done ? static_cast<int64_t>(done) : -1;
        }
        if (n == 0) break;
        done += n;
    }
    return static_cast<int64_t>(done);
}

int64_t FileWrite(int fd, const void* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        size_t chunk = count - done;
        if (chunk > (1u << 30)) chunk = 1u << 30;
        int n = _write(fd, static_cast<const char*>(buffer) + done, static_cast<unsigned>(chunk));
        if (n < 0) return done ? static_cast<int64_t>(done) : -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t FileSeek(int fd, int64_t offset, Whence whence) {
    return _lseeki64(fd, offset, whence == Whence::Begin ? SEEK_SET : SEEK_CUR);
}

int64_t FileLength(int fd) { return _filelengthi64(fd); }

int FileClose(int fd) { return _close(fd); }

namespace {

bool ToFileTime(int64_t seconds, FILETIME* ft) {
    uint64_t ticks = 0;
    if (!UtcFileTime(seconds, &ticks)) return false;
    ft->dwLowDateTime = static_cast<DWORD>(ticks);
    ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

}  // namespace

bool SetFileTimesOf(int fd, int64_t accessSeconds, int64_t writeSeconds) {
    FILETIME access, write;
    return ToFileTime(accessSeconds, &access) && ToFileTime(writeSeconds, &write) &&
           SetFileTime(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), nullptr, &access, &write);
}

bool FreeBytesForFolder(const char* folder, uint64_t* freeBytes) {
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExA(folder && *folder ? folder : nullptr, &available, &total, &totalFree))
        return false;
    *freeBytes = available.QuadPart;
    return true;
}

void* PageAlloc(size_t bytes) {
    if (bytes == 0) return nullptr;
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void PageFree(void* pointer, size_t) {
    if (pointer) VirtualFree(pointer, 0, MEM_RELEASE);
}

void* ReserveRange(size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_TOP_DOWN, PAGE_NOACCESS);
}

bool CommitRange(void* pointer, size_t bytes) {
    return VirtualAlloc(pointer, bytes, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void DecommitRange(void* pointer, size_t bytes) { VirtualFree(pointer, bytes, MEM_DECOMMIT); }

void ReleaseRange(void* pointer, size_t) {
    if (pointer) VirtualFree(pointer, 0, MEM_RELEASE);
}

int64_t CurrentTime() { return _time64(nullptr); }

bool LocalCalendarTime(int64_t seconds, CalendarTime* out) {
    __time64_t t = seconds;
    struct tm* tm = _localtime64(&t);
    if (!tm) return false;
    out->year = static_cast<uint16_t>(tm->tm_year + 1900);
    out->month = static_cast<uint16_t>(tm->tm_mon + 1);
    out->dayOfWeek = static_cast<uint16_t>(tm->tm_wday);
    out->day = static_cast<uint16_t>(tm->tm_mday);
    out->hour = static_cast<uint16_t>(tm->tm_hour);
    out->minute = static_cast<uint16_t>(tm->tm_min);
    out->second = static_cast<uint16_t>(tm->tm_sec);
    out->milliseconds = 0;
    return true;
}

int32_t TimeZoneBiasMinutes() {
    _tzset();
    return static_cast<int32_t>(_timezone / 60);
}

bool CalendarToFileTime(const CalendarTime& c, uint64_t* fileTime) {
    SYSTEMTIME st;
    st.wYear = c.year;
    st.wMonth = c.month;
    st.wDayOfWeek = c.dayOfWeek;
    st.wDay = c.day;
    st.wHour = c.hour;
    st.wMinute = c.minute;
    st.wSecond = c.second;
    st.wMilliseconds = c.milliseconds;
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft)) return false;
    *fileTime = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return true;
}

bool LocalFileTimeToUtc(uint64_t localFileTime, uint64_t* utcFileTime) {
    FILETIME local, utc;
    local.dwLowDateTime = static_cast<DWORD>(localFileTime);
    local.dwHighDateTime = static_cast<DWORD>(localFileTime >> 32);
    if (!LocalFileTimeToFileTime(&local, &utc)) return false;
    *utcFileTime = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
    return true;
}

static_assert(sizeof(SRWLOCK) <= 64 && sizeof(CONDITION_VARIABLE) <= 64);

Mutex::Mutex() { InitializeSRWLock(reinterpret_cast<SRWLOCK*>(storage_)); }
Mutex::~Mutex() = default;  // a slim lock holds no resources
void Mutex::Lock() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_)); }
void Mutex::Unlock() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_)); }

Condition::Condition() {
    InitializeConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(storage_));
}
Condition::~Condition() = default;
void Condition::Wait(Mutex& mutex) {
    SleepConditionVariableSRW(reinterpret_cast<CONDITION_VARIABLE*>(storage_),
                              reinterpret_cast<SRWLOCK*>(mutex.storage_), INFINITE, 0);
}
void Condition::NotifyAll() {
    WakeAllConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(storage_));
}

unsigned ProcessorCount() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        unsigned count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

struct ThreadEntry {
    static unsigned __stdcall Run(void* thread) {
        const Thread* t = static_cast<const Thread*>(thread);
        t->function_(t->argument_);
        return 0;
    }
};

bool Thread::Start(void (*function)(void*), void* argument) {
    if (running_) return false;
    function_ = function;
    argument_ = argument;
    // Through the C runtime, which sets up its per-thread data for the new thread.
    const uintptr_t thread = _beginthreadex(nullptr, 0, &ThreadEntry::Run, this, 0, nullptr);
    if (!thread) return false;
    handle_ = thread;
    running_ = true;
    return true;
}

void Thread::Join() {
    if (!running_) return;
    const HANDLE thread = reinterpret_cast<HANDLE>(handle_);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    running_ = false;
}

}  // namespace platform
