// Decoding on several threads for vorx t and vorx x.
//
// Workers decode small entries whole, ahead of the command, each on an archive handle of
// its own; the blocks of a large entry are decoded side by side, since every compressed
// block starts from an empty context table, and their CRC-32s are combined in order. The
// command takes every result in entry order and block order, and a result is the one
// the single-threaded call would have given (a block that fails, or that the entry's
// size would not have admitted, is decoded once more exactly as the library does it),
// so what the command prints, writes and returns does not depend on the thread count.
//
// Memory: whole entries are decoded ahead only when they are at most kWholeEntryLimit
// bytes, at most kEntriesAhead of them and kEntryBytesAhead bytes together; of a large
// entry at most 2 x threads blocks are held (read, being decoded, or waiting to be
// written), their bodies and outputs together below kBlockBytesAhead (one block always
// goes, whatever its size).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "library/vorx.h"
#include "platform/host.h"
#include "tools/commands.h"

namespace tool {

// Entries up to this size are decoded whole by one worker, larger ones block by block.
constexpr uint64_t kWholeEntryLimit = 4ull << 20;
constexpr size_t kEntriesAhead = 64;
constexpr uint64_t kEntryBytesAhead = 32ull << 20;
constexpr uint64_t kBlockBytesAhead = 96ull << 20;

// What a worker made of an entry.
struct DecodedEntry {
    // False when no worker decoded it (it was not queued, is larger than
    // kWholeEntryLimit, or its memory could not be had): the command decodes it itself.
    bool decoded = false;
    vorx_Error code = vorx_Success;   // of vorx_DecompressToPtr
    std::unique_ptr<uint8_t[]> data;  // its bytes when code is 0
};

// Where the blocks of a large entry go on one thread: into the caller's memory (the
// rules of vorx_DecompressToPtr) or through the file extraction's window (those of
// vorx_DecompressToFile, which refuses a block of more than 64 MiB).
enum class BlockRules { Memory, File };

enum class SlotState;
struct EntrySlot;
struct BlockSlot;
struct WorkerState;
}  // namespace tool
namespace vorx {
class PageBuffer;
}  // namespace vorx
namespace tool {

class ParallelDecoder {
public:
    // Decodes on `threads` threads the archive at `path`, opened with `password` (in the
    // archive's code page, or null). `main` is the command's handle, on whose file the
    // command's thread reads the blocks of large entries. When `commandDecodes` (vorx t,
    // whose thread has nothing else to do) the command's thread is one of them: it
    // decodes queued blocks and entries while it waits for a result, beside threads - 1
    // workers. Otherwise (vorx x, whose thread hands files to the writer) `threads`
    // workers start and it only waits.
    ParallelDecoder(vorx_Stream* main, const std::string& path, const char* password,
                    unsigned threads, bool commandDecodes);
    ~ParallelDecoder();  // stops the workers; results not taken are dropped
    ParallelDecoder(const ParallelDecoder&) = delete;
    ParallelDecoder& operator=(const ParallelDecoder&) = delete;

    // Queues the entries of `entries` from `first` on, as far as the limits allow, those
    // `skip` names (when given) left out; forgets the results of entries before `first`.
    void Ahead(const std::vector<vorx_FileInfo>& entries, size_t first, const char* skip);
    // The result for entry `index`, once its worker is done (or decoded here when no
    // worker has started it).
    DecodedEntry Take(size_t index);

    // vorx_DecompressToPtr (Memory) or vorx_DecompressToFile (File) of entry `name`
    // without the output: the same checks up to the decode and the same result codes.
    vorx_Error Test(const char* name, const char* password, BlockRules rules,
                    const DecodeProgress* progress);
    // vorx_DecompressToFile of entry `name` into `temporary` (in `folder`), through a
    // descriptor of its own, with its codes and its times.
    vorx_Error ExtractToFile(const char* name, const host::TemporaryFile& temporary,
                             const host::Folder& folder, const char* password,
                             const DecodeProgress* progress);

private:
    static void Run(void* self);
    void Work();
    void RunEntry(vorx_Stream* handle, EntrySlot& slot);
    void RunBlock(WorkerState& state, BlockSlot& slot);
    // The blocks of the located entry: 0, or the code that ended it.
    vorx_Error DecodeBlocks(const vorx_FileInfo& info, uint64_t recordPosition,
                            const char* password, BlockRules rules, int output,
                            const DecodeProgress* progress);
    // Waits (the lock held) until `state` is Done.
    void WaitDone(const SlotState& state);
    // The same, with the command's thread decoding queued work meanwhile when it is one
    // of the decoders.
    void AwaitDone(const SlotState& state);
    // Runs the first queued block, or else the first queued entry (on `handle`), the lock
    // released meanwhile (held on entry and on return); something must be queued.
    void RunQueued(WorkerState& state, vorx_Stream* handle);
    // Runs a slot already taken off its queue, the same way.
    void RunTaken(WorkerState& state, BlockSlot& slot);
    void RunTaken(vorx_Stream* handle, EntrySlot& slot);
    // Wakes idle workers after tasks were queued (the lock held).
    void WakeWorkers();
    // Memory for a block (the command's thread only): a spare, or fresh pages; null when
    // it cannot be had. KeepBuffer takes it back among the spares.
    using Spares = std::vector<std::unique_ptr<vorx::PageBuffer>>;
    std::unique_ptr<vorx::PageBuffer> TakeBuffer(Spares& spares, size_t size);
    void KeepBuffer(Spares& spares, std::unique_ptr<vorx::PageBuffer>& buffer);
    std::unique_ptr<BlockSlot> ReadBlock(uint64_t dataStart, uint64_t* scanned,
                                         const vorx_FileInfo& info, int64_t fileLength);
    vorx_Error Redecode(BlockSlot& slot, uint64_t remaining, BlockRules rules);

    vorx_Stream* const main_;
    const std::string path_;
    const std::string password_;
    const bool hasPassword_;
    const unsigned threads_;  // the decoding threads, the command's included when it decodes
    const bool commandDecodes_;

    host::Mutex mutex_;
    // Every hand-over wakes only the side that waits for it: on a loaded machine each
    // wake-up may cost a time slice.
    host::Condition work_;  // workers wait here for a task or the stop
    host::Condition done_;  // the command's thread waits here for a result
    unsigned idle_ = 0;     // workers waiting on work_
    bool waiting_ = false;  // the command's thread waits on done_
    bool stopping_ = false;
    std::map<size_t, std::shared_ptr<EntrySlot>> entries_;  // queued, running or done
    std::deque<std::shared_ptr<EntrySlot>> entryQueue_;
    uint64_t entryBytes_ = 0;  // sizes of the entries in entries_
    size_t nextAhead_ = 0;     // the first entry not looked at by Ahead yet
    std::deque<BlockSlot*> blockQueue_;
    std::unique_ptr<WorkerState> mainState_;  // for blocks decoded on the command's thread
    // Memory of blocks done, kept for the next ones: bodies and outputs apart, so that
    // each keeps its own size.
    Spares spareBodies_;
    Spares spareOutputs_;
    std::vector<std::unique_ptr<host::Thread>> workers_;
};

}  // namespace tool
