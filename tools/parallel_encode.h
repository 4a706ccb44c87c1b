// The threads that compress the blocks of `vorx a`. The command reads each entry's bytes
// in 4 MiB chunks and queues them here; N threads, each with a compressor of its own,
// encode and encrypt them side by side, and the command takes the finished blocks in the
// order it queued them and writes them. Every block is compressed from its own bytes alone
// (an empty context table, prices of its own), so a block's bytes do not depend on which
// thread took it, nor on the block before: the archive is the same for every N.
//
// Memory is bounded: the chunks queued and the blocks not yet taken hold at most
// (2N + 2) x 4 MiB of entry bytes together (one chunk always goes), besides each
// thread's compressor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "writer/archive_writer.h"
#include "writer/compressor.h"

namespace tool {

class ParallelEncoder {
public:
    // Compresses at `level` on `threads` threads (at least 1).
    ParallelEncoder(int level, unsigned threads);
    // Drops what is queued and waits for the threads.
    ~ParallelEncoder();
    ParallelEncoder(const ParallelEncoder&) = delete;
    ParallelEncoder& operator=(const ParallelEncoder&) = delete;

    // The bytes of one chunk: the size of the blocks an entry is cut into.
    static size_t ChunkSize();

    // Whether a chunk of `length` bytes may be queued within the memory bound.
    bool HasRoom(size_t length);
    // Queues a chunk (1 to ChunkSize() bytes) of an entry encrypted with `password`.
    void Submit(std::vector<uint8_t> chunk, const std::optional<std::string>& password);
    enum class Taken { Block, NotYet, Failed, OutOfMemory };
    // The oldest block not taken yet, waiting for it when `wait` (NotYet otherwise, while
    // it is not finished). Failed and OutOfMemory set `error`.
    Taken TakeNext(bool wait, vorx::FinishedBlock* block, std::string* error);

private:
    struct Job {
        std::vector<uint8_t> chunk;
        std::optional<std::string> password;
        size_t cost = 0;
        bool started = false, finished = false, ok = false, outOfMemory = false;
        vorx::FinishedBlock block;
        std::string error;
    };
    static void Run(void* self);
    void Work();

    const int level_;
    const size_t budget_;
    host::Mutex mutex_;
    host::Condition changed_;
    std::deque<Job> jobs_;  // in queued order; the front is the next to take
    size_t next_ = 0;       // jobs_[next_] is the first not started
    size_t inFlight_ = 0;   // the costs of the jobs in jobs_
    bool stopping_ = false;
    std::vector<std::unique_ptr<host::Thread>> threads_;
    std::unique_ptr<vorx::Compressor> ownCompressor_;  // when no thread could be started
};

}  // namespace tool
