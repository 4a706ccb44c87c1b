// POSIX implementation of the tool's host services: stat, opendir, mkdir, iconv for
// the Windows code pages (glibc carries them as "CP<n>"), isatty and SIGINT.
#include "platform/host.h"

#include <dirent.h>
#include <errno.h>
#include <iconv.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>

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

std::string CodePageName(unsigned codePage) {
    if (codePage == 65001) return "UTF-8";
    // Windows numbers ISO 8859-n as 28590 + n.
    if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
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
    if (S_ISREG(st.st_mode)) status.kind = PathKind::File;
    else if (S_ISDIR(st.st_mode)) status.kind = PathKind::Directory;
    else status.kind = PathKind::Other;
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

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

bool RenameFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
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

bool ToCodePage(const std::string& hostText, unsigned codePage, std::string* out, std::string* error) {
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

bool FromCodePage(const std::string& text, unsigned codePage, std::string* out, std::string* error) {
    if (!CodePageAvailable(codePage)) {
        *error = "code page " + std::to_string(codePage) + " is not available on this system";
        return false;
    }
    if (!Convert("UTF-8", CodePageName(codePage).c_str(), text, out)) {
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

unsigned ProcessId() { return static_cast<unsigned>(getpid()); }

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

namespace {
struct ThreadStart {
    void (*function)(void*);
    void* argument;
};
void* RunThread(void* start) {
    const ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.function(s.argument);
    return nullptr;
}
}  // namespace

bool Thread::Start(void (*function)(void*), void* argument) {
    if (running_) return false;
    auto* start = new ThreadStart{function, argument};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &RunThread, start) != 0) {
        delete start;
        return false;
    }
    handle_ = static_cast<uintptr_t>(thread);
    running_ = true;
    return true;
}

void Thread::Join() {
    if (!running_) return;
    pthread_join(static_cast<pthread_t>(handle_), nullptr);
    running_ = false;
}

}  // namespace host
