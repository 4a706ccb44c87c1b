// Writes extracted files on a thread of its own, so that the file system's work for
// one entry (creating the file, writing it, setting its time, renaming it into place)
// overlaps with decoding the next. Creating a file costs more than decoding a small
// one, so on a folder of many small files this nearly halves the time.
//
// Every file is created exclusively in a folder held open (never through a link, never
// over anything that appeared meanwhile). A file that replaces another is written under
// a fresh random name beside it and renamed over it once complete, so the old file stays
// when writing fails, and a link or a second name of the old file is replaced rather
// than written through. A new file is created under its own name and removed again when
// writing fails: a failed or abandoned file leaves nothing behind. Files are written in the order
// they were submitted, so a later entry of the same name wins as it would without the thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/host.h"

namespace tool {

struct FileJob {
    host::FolderPtr folder;  // where the file goes
    std::string name;        // its name in the folder
    std::string path;        // the whole path, for messages
    bool replace = false;    // a file of that name may exist and is replaced
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
    int64_t lastWriteSeconds = 0;  // 0: the time of writing
};

// Writes one job's file now. False when any step fails, with the message that says why
// in `failure`; the temporary file is removed.
bool WriteFileJob(const FileJob& job, std::string* failure);

// Why the file at `path` is not written: it is an earlier entry's.
std::string SharedFileFailure(const std::string& path);

class FileWriter {
public:
    // Submit waits while more than `maxQueuedBytes` of file data wait to be written.
    explicit FileWriter(size_t maxQueuedBytes);
    ~FileWriter();  // abandons what is not written yet
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Queues a file. Without a thread (it could not be started) it is written at once.
    void Submit(FileJob job);
    // Returns when every file submitted so far is written or has failed.
    void Drain();
    // Stops the thread: files not started yet are dropped when `abandon`, written
    // otherwise. Submit writes at once afterwards.
    void Finish(bool abandon);

    // Why each file that failed since the last call failed ("cannot write 'PATH': REASON"),
    // in submission order. Throws std::bad_alloc, on the caller's thread, when the
    // thread ran out of memory.
    std::vector<std::string> TakeFailures();
    // Files written so far.
    size_t written();
    // Whether `file` (a status from host::StatIn) is one this writer wrote (or was told of
    // by Note). Two names may lead to one file, so a later entry is judged by this, not
    // by its name; a job that replaces such a file fails (SharedFileFailure).
    bool Wrote(const host::PathStatus& file);
    void Note(const host::PathStatus& file);

private:
    // Writes `job` (its data let go afterwards) with the lock released meanwhile, and
    // counts how it went; running out of memory is kept for TakeFailures to throw.
    void WriteUnlocked(FileJob& job);
    static void Run(void* self);
    void Work();

    const size_t maxQueuedBytes_;
    host::Mutex mutex_;
    host::Condition changed_;  // the queue, the busy flag or the stop request changed
    std::deque<FileJob> queue_;
    size_t queuedBytes_ = 0;  // data of the queued jobs and the one being written
    bool busy_ = false;       // a job is being written
    bool stopping_ = false;
    bool abandon_ = false;
    size_t written_ = 0;
    std::set<std::pair<uint64_t, uint64_t>> identities_;  // of the files written
    bool outOfMemory_ = false;
    std::vector<std::string> failures_;
    host::Thread thread_;
};

}  // namespace tool
