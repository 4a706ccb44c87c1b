// POSIX implementation of the platform layer: open/read/pread, mmap, statvfs,
// localtime_r, POSIX threads, and the FILETIME arithmetic that Windows provides natively.
#include "platform/platform.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr int64_t kFileTimeTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Reads the time zone (TZ, else the system's setting) on the first call. tzset() stats
// the zone file every time it runs, and an entry's times take several conversions, so
// that on every call it cost a listing of a few thousand entries more than the reads of
// their records. A program that changes TZ later calls tzset() itself, as POSIX asks of
// it, and the conversions then follow.
void ReadTimeZoneOnce() {
    static const bool read = (tzset(), true);
    (void)read;
}

}  // namespace

int FileOpen(const char* path, unsigned flags) {
    int oflags = O_CLOEXEC;
    oflags |= (flags & kOpenReadWrite) ? O_RDWR : O_RDONLY;
    if (flags & kOpenCreate) oflags |= O_CREAT;
    if (flags & kOpenTruncate) oflags |= O_TRUNC;
    if ((flags & kOpenExclusive) && (flags & kOpenCreate)) oflags |= O_EXCL;
    int fd;
    do {
        fd = ::open(path, oflags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // A folder opens for reading on POSIX but holds no bytes; refuse it like Windows does.
    // Opening one for writing fails by itself (EISDIR).
    struct stat st;
    if (!(flags & kOpenReadWrite) && (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    if (flags & kOpenSequential) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (flags & kOpenRandom) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    return fd;
}

namespace {

// Repeats `transfer(done)` (a read or write of the bytes from `done` on) until `count`
// bytes have moved, the end of the file is reached or a call fails; an interrupted
// call is repeated. Returns the bytes moved, or -1 when the first call fails.
template <typename Transfer>
int64_t TransferAll(size_t count, Transfer transfer) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = transfer(done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done ? static_cast<int64_t>(done) : -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

}  // namespace

int64_t FileRead(int fd, void* buffer, size_t count) {
    char* const bytes = static_cast<char*>(buffer);
    return TransferAll(count, [&](size_t done) { return ::read(fd, bytes + done, count - done); });
}

// One call where a seek and a read would take two: the record walks read a few bytes at
// a time at scattered places.
int64_t FileReadAt(int fd, uint64_t offset, void* buffer, size_t count) {
    char* const bytes = static_cast<char*>(buffer);
    return TransferAll(count, [&](size_t done) {
        return ::pread(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
    });
}

int64_t FileWrite(int fd, const void* buffer, size_t count) {
    const char* const bytes = static_cast<const char*>(buffer);
    return TransferAll(count, [&](size_t done) { return ::write(fd, bytes + done, count - done); });
}

int64_t FileSeek(int fd, int64_t offset, Whence whence) {
    off_t r =
        ::lseek(fd, static_cast<off_t>(offset), whence == Whence::Begin ? SEEK_SET : SEEK_CUR);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t FileLength(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int FileClose(int fd) { return ::close(fd); }

bool SetFileTimesOf(int fd, int64_t accessSeconds, int64_t writeSeconds) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(accessSeconds);
    times[0].tv_nsec = 0;
    times[1].tv_sec = static_cast<time_t>(writeSeconds);
    times[1].tv_nsec = 0;
    return futimens(fd, times) == 0;
}

bool FreeBytesForFolder(const char* folder, uint64_t* freeBytes) {
    struct statvfs sv;
    if (statvfs(folder && *folder ? folder : ".", &sv) != 0) return false;
    *freeBytes = static_cast<uint64_t>(sv.f_bavail) * static_cast<uint64_t>(sv.f_frsize);
    return true;
}

void* PageAlloc(size_t bytes) {
    if (bytes == 0) return nullptr;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void PageFree(void* pointer, size_t bytes) {
    if (pointer) munmap(pointer, bytes);
}

void* ReserveRange(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool CommitRange(void* pointer, size_t bytes) {
    return mprotect(pointer, bytes, PROT_READ | PROT_WRITE) == 0;
}

void DecommitRange(void* pointer, size_t bytes) {
    madvise(pointer, bytes, MADV_DONTNEED);
    mprotect(pointer, bytes, PROT_NONE);
}

void ReleaseRange(void* pointer, size_t bytes) {
    if (pointer) munmap(pointer, bytes);
}

int64_t CurrentTime() { return static_cast<int64_t>(time(nullptr)); }

bool LocalCalendarTime(int64_t seconds, CalendarTime* out) {
    ReadTimeZoneOnce();
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    if (!localtime_r(&t, &tm)) return false;
    const int64_t year = static_cast<int64_t>(tm.tm_year) + 1900;
    if (year < 1601 || year > 30827) return false;
    out->year = static_cast<uint16_t>(year);
    out->month = static_cast<uint16_t>(tm.tm_mon + 1);
    out->dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    out->day = static_cast<uint16_t>(tm.tm_mday);
    out->hour = static_cast<uint16_t>(tm.tm_hour);
    out->minute = static_cast<uint16_t>(tm.tm_min);
    out->second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    out->milliseconds = 0;
    return true;
}

int32_t TimeZoneBiasMinutes() {
    ReadTimeZoneOnce();
    return static_cast<int32_t>(timezone / 60);
}

bool CalendarToFileTime(const CalendarTime& c, uint64_t* fileTime) {
    static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (c.year < 1601 || c.year > 30827 || c.month < 1 || c.month > 12 || c.day < 1) return false;
    const unsigned monthDays = kDays[c.month - 1] + (c.month == 2 && IsLeap(c.year) ? 1u : 0u);
    if (c.day > monthDays || c.hour > 23 || c.minute > 59 || c.second > 59 || c.milliseconds > 999)
        return false;
    int64_t days = DaysFromCivil(c.year, c.month, c.day);
    int64_t secs = days * 86400 + c.hour * 3600 + c.minute * 60 + c.second + kSecondsFrom1601To1970;
    *fileTime = static_cast<uint64_t>(secs) * kFileTimeTicksPerSecond +
                static_cast<uint64_t>(c.milliseconds) * 10000;
    return true;
}

bool LocalFileTimeToUtc(uint64_t localFileTime, uint64_t* utcFileTime) {
    ReadTimeZoneOnce();
    time_t now = time(nullptr);
    struct tm tm;
    if (!localtime_r(&now, &tm)) return false;
    // tm_gmtoff is seconds east of UTC, daylight saving included: the present bias.
    int64_t offsetTicks = static_cast<int64_t>(tm.tm_gmtoff) * kFileTimeTicksPerSecond;
    int64_t utc = static_cast<int64_t>(localFileTime) - offsetTicks;
    if (utc < 0) return false;
    *utcFileTime = static_cast<uint64_t>(utc);
    return true;
}

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 16);
static_assert(sizeof(pthread_cond_t) <= 64 && alignof(pthread_cond_t) <= 16);
static_assert(sizeof(pthread_t) <= sizeof(uintptr_t));

Mutex::Mutex() { pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), nullptr); }
Mutex::~Mutex() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Mutex::Lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Mutex::Unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

Condition::Condition() { pthread_cond_init(reinterpret_cast<pthread_cond_t*>(storage_), nullptr); }
Condition::~Condition() { pthread_cond_destroy(reinterpret_cast<pthread_cond_t*>(storage_)); }
void Condition::Wait(Mutex& mutex) {
    pthread_cond_wait(reinterpret_cast<pthread_cond_t*>(storage_),
                      reinterpret_cast<pthread_mutex_t*>(mutex.storage_));
}
void Condition::NotifyAll() { pthread_cond_broadcast(reinterpret_cast<pthread_cond_t*>(storage_)); }

unsigned ProcessorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

struct ThreadEntry {
    static void* Run(void* thread) {
        const Thread* t = static_cast<const Thread*>(thread);
        t->function_(t->argument_);
        return nullptr;
    }
};

bool Thread::Start(void (*function)(void*), void* argument) {
    if (running_) return false;
    function_ = function;
    argument_ = argument;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &ThreadEntry::Run, this) != 0) return false;
    handle_ = static_cast<uintptr_t>(thread);
    running_ = true;
    return true;
}

void Thread::Join() {
    if (!running_) return;
    pthread_join(static_cast<pthread_t>(handle_), nullptr);
    running_ = false;
}

}  // namespace platform
