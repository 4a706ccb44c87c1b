#include "tools/file_writer.h"

#include <system_error>
#include <utility>

#include "platform/host.h"
#include "platform/platform.h"

namespace tool {

bool WriteFileJob(const FileJob& job) {
    const std::string& name = job.replace ? job.temporary : job.path;
    const unsigned flags = platform::kOpenReadWrite | platform::kOpenCreate |
                           (job.replace ? platform::kOpenTruncate : platform::kOpenExclusive);
    const int fd = platform::FileOpen(name.c_str(), flags);
    if (fd < 0) return false;
    bool ok = job.size == 0 ||
              platform::FileWrite(fd, job.data.get(), job.size) == static_cast<int64_t>(job.size);
    // A file that cannot be closed may not hold what was written to it.
    ok = platform::FileClose(fd) == 0 && ok;
    if (ok) {
        const int64_t now = platform::CurrentTime();
        ok = platform::SetFileTimes(name.c_str(), now, job.lastWriteSeconds ? job.lastWriteSeconds : now);
    }
    if (ok && job.replace) ok = host::RenameFile(job.temporary, job.path);
    if (!ok) host::RemoveFile(name);
    return ok;
}

FileWriter::FileWriter(size_t maxQueuedBytes) : maxQueuedBytes_(maxQueuedBytes) {
    try {
        thread_ = std::thread(&FileWriter::Run, this);
    } catch (const std::system_error&) {
        stopping_ = true;  // no thread: every file is written by Submit itself
    }
}

FileWriter::~FileWriter() { Finish(true); }

void FileWriter::Submit(FileJob job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) {
        lock.unlock();
        const bool ok = WriteFileJob(job);
        lock.lock();
        if (ok) ++written_;
        else failures_.push_back(job.path);
        return;
    }
    // One file larger than the limit still goes, alone.
    changed_.wait(lock, [&] {
        return queuedBytes_ == 0 || queuedBytes_ + job.size <= maxQueuedBytes_;
    });
    queuedBytes_ += job.size;
    queue_.push_back(std::move(job));
    changed_.notify_all();
}

void FileWriter::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

void FileWriter::Finish(bool abandon) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        abandon_ = abandon_ || abandon;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> FileWriter::TakeFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> failures;
    failures.swap(failures_);
    return failures;
}

size_t FileWriter::written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

void FileWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queue_.empty() || stopping_; });
        if (abandon_) {
            queue_.clear();
            queuedBytes_ = 0;
        }
        if (queue_.empty()) {
            changed_.notify_all();
            return;
        }
        FileJob job = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        const bool ok = WriteFileJob(job);
        const size_t size = job.size;
        job.data.reset();
        lock.lock();
        busy_ = false;
        queuedBytes_ -= size;
        if (ok) ++written_;
        else failures_.push_back(job.path);
        changed_.notify_all();
    }
}

}  // namespace tool
