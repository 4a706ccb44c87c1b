#include "tools/file_writer.h"

#include <new>
#include <utility>

#include "library/extract.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "tools/commands.h"

namespace tool {

bool WriteFileJob(const FileJob& job, std::string* failure) {
    const std::string what = "cannot write '" + job.path + "'";
    std::string temporary;
    const int fd = job.replace ? host::CreateTemporaryIn(*job.folder, &temporary)
                               : host::CreateFileIn(*job.folder, job.name);
    if (fd < 0) {
        *failure = SystemFailure(what);
        return false;
    }
    bool ok = job.size == 0 ||
              platform::FileWrite(fd, job.data.get(), job.size) == static_cast<int64_t>(job.size);
    if (ok) ok = vorx::StampOutput(fd, job.lastWriteSeconds);
    if (!ok) *failure = SystemFailure(what, job.folder->path(), job.size);
    // Renamed into place, or removed when anything failed; a file that cannot be closed
    // may not hold what was written to it.
    const std::string& created = job.replace ? temporary : job.name;
    if (!host::FinishCreated(fd, *job.folder, created, job.name, ok) && ok) {
        *failure = SystemFailure(what, job.folder->path(), job.size);
        ok = false;
    }
    return ok;
}

std::string SharedFileFailure(const std::string& path) {
    return "refused '" + path +
           "': the file system takes its name for the file of an earlier entry, and one file "
           "cannot hold both";
}

namespace {

// What a queued job counts against the limit: its data, and for every job a share that
// bounds the number of jobs (each holds its folder open) when the files are empty.
size_t Cost(const FileJob& job) { return job.size + 16384; }

}  // namespace

FileWriter::FileWriter(size_t maxQueuedBytes) : maxQueuedBytes_(maxQueuedBytes) {
    // Without a thread every file is written by Submit itself.
    if (!thread_.Start(&FileWriter::Run, this)) stopping_ = true;
}

FileWriter::~FileWriter() { Finish(true); }

void FileWriter::Submit(FileJob job) {
    host::Locked lock(mutex_);
    if (stopping_) {
        WriteUnlocked(job);
        return;
    }
    // One file larger than the limit still goes, alone.
    const size_t cost = Cost(job);
    while (queuedBytes_ != 0 && queuedBytes_ + cost > maxQueuedBytes_) changed_.Wait(mutex_);
    queuedBytes_ += cost;
    queue_.push_back(std::move(job));
    changed_.NotifyAll();
}

void FileWriter::Drain() {
    host::Locked lock(mutex_);
    while (!queue_.empty() || busy_) changed_.Wait(mutex_);
}

void FileWriter::Finish(bool abandon) {
    {
        host::Locked lock(mutex_);
        stopping_ = true;
        abandon_ = abandon_ || abandon;
        changed_.NotifyAll();
    }
    thread_.Join();
}

std::vector<std::string> FileWriter::TakeFailures() {
    host::Locked lock(mutex_);
    if (outOfMemory_) throw std::bad_alloc();
    std::vector<std::string> failures;
    failures.swap(failures_);
    return failures;
}

size_t FileWriter::written() {
    host::Locked lock(mutex_);
    return written_;
}

bool FileWriter::Wrote(const host::PathStatus& file) {
    host::Locked lock(mutex_);
    return file.id != 0 && identities_.count({file.device, file.id}) != 0;
}

void FileWriter::Note(const host::PathStatus& file) {
    host::Locked lock(mutex_);
    if (file.id != 0) identities_.emplace(file.device, file.id);
}

void FileWriter::WriteUnlocked(FileJob& job) {
    mutex_.Unlock();
    std::string failure;
    bool ok = false, outOfMemory = false;
    try {
        // The jobs before this one are written: the file it would replace is judged now.
        if (job.replace && Wrote(host::StatIn(*job.folder, job.name))) {
            failure = SharedFileFailure(job.path);
        } else if ((ok = WriteFileJob(job, &failure))) {
            Note(host::StatIn(*job.folder, job.name));
        }
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    job.data.reset();
    job.folder.reset();
    mutex_.Lock();
    outOfMemory_ = outOfMemory_ || outOfMemory;
    if (ok)
        ++written_;
    else if (!outOfMemory)
        failures_.push_back(std::move(failure));
}

void FileWriter::Run(void* self) { static_cast<FileWriter*>(self)->Work(); }

void FileWriter::Work() {
    host::Locked lock(mutex_);
    for (;;) {
        while (queue_.empty() && !stopping_) changed_.Wait(mutex_);
        if (abandon_) {
            queue_.clear();
            queuedBytes_ = 0;
        }
        if (queue_.empty()) {
            changed_.NotifyAll();
            return;
        }
        FileJob job = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        const size_t cost = Cost(job);
        WriteUnlocked(job);
        busy_ = false;
        queuedBytes_ -= cost;
        changed_.NotifyAll();
    }
}

}  // namespace tool
