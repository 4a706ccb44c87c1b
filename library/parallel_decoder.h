// Decoding on several threads, for the tool's t and x and the self-extractor.
//
// The caller asks for the entries one at a time, in its own order, as it would ask the
// serial extraction (library/extract.h); workers decode ahead of it:
//  - small entries whole, each into memory of its own, with a password and the rules
//    the caller will most likely ask for; a result is used only when the caller then
//    asks with that password (for an encrypted entry) and those rules, otherwise the
//    entry is decoded again on the caller's thread;
//  - the blocks of a large entry side by side, since every compressed block starts from
//    an empty context table: the caller's thread reads them ahead, workers decrypt and
//    decode them, and the caller takes them in order through the one block pipeline
//    (DecodeEntryBlocks), which decodes again, the serial way, every block whose decode
//    ahead failed or produced more than the entry then admits.
// So every result, every byte written and every code is the serial one. Workers share
// the archive's descriptor (positioned reads only) and each keep decoder tables of their
// own; they look at the handle's cancel flag before every block.
//
// Memory is bounded: whole entries are decoded ahead only up to `wholeEntry` bytes each,
// at most `entries` of them and `entryBytes` together (and as much again kept for the
// next ones once the caller has written theirs); of a large entry at most two
// blocks per thread are held, their memory below `blockBytes` together (one block always
// goes), and only blocks whose body and output fit kBlockRoom each; a worker reads no
// body above kBlockRoom either. Each thread adds its decoder tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "library/extract.h"
#include "platform/platform.h"

namespace vorx {

struct DecoderState;
class PageBuffer;

class ParallelDecoder {
public:
    // Bodies and outputs of the blocks decoded ahead: the writer's largest block.
    static constexpr size_t kBlockRoom = size_t{4} << 20;
    static constexpr unsigned kMaxThreads = 64;
    static constexpr size_t kMaxEntries = 64;

    struct Settings {
        unsigned threads = 1;        // decoding threads, the caller's included when it decodes
        bool callerDecodes = false;  // the caller's thread decodes queued work while it waits
        Rules aheadRules = Rules::Memory;  // the rules of entries decoded ahead
        bool skipComment = false;          // the comment entry is never asked for
        uint64_t wholeEntry = uint64_t{4} << 20;
        size_t entries = 64;
        uint64_t entryBytes = uint64_t{32} << 20;
        uint64_t blockBytes = uint64_t{96} << 20;
    };

    // Starts the workers: threads - 1 when the caller decodes, else `threads`. With
    // none (one thread, or none could start) every entry is decoded on the caller's
    // thread.
    ParallelDecoder(vorx_Stream* handle, const Settings& settings);
    ~ParallelDecoder();  // stops the workers within a block; results not taken are dropped
    ParallelDecoder(const ParallelDecoder&) = delete;
    ParallelDecoder& operator=(const ParallelDecoder&) = delete;

    unsigned workers() const { return workerCount_; }

    // The password encrypted entries are decoded ahead with (null: they are not). Copied.
    void SetAheadPassword(const char* password);
    // Forgets what was decoded ahead for entries before `first` and queues entries from
    // `first` on, as far as the limits allow.
    void Ahead(uint64_t first);
    // ExtractEntryByIndex(handle, index, password, request), with the work done ahead.
    vorx_Error Extract(uint64_t index, const char* password, const EntryRequest& request);

    struct EntrySlot;
    struct BlockSlot;
    struct Worker;
    struct EntryBuffer {
        uint8_t* data;
        size_t capacity;
    };

private:
    static void Run(void* worker);
    void Work();
    // Runs the first queued block, or else the first queued entry, with `state`; the lock
    // is held on entry and on return and released meanwhile. False when none is queued.
    bool RunQueued(DecoderState* state);
    void RunEntry(EntrySlot& slot, DecoderState* state);
    void RunBlock(BlockSlot& slot, DecoderState* state);
    // Waits (the lock held) until `done` is set, decoding queued work meanwhile when the
    // caller's thread is one of the decoders.
    void AwaitDone(const bool& done);
    void WakeWorkers();
    EntrySlot* SlotOf(uint64_t index);
    DecoderState* CallerState();
    void Drop(EntrySlot& slot);
    // Memory for an entry decoded ahead (the lock held): a spare of at least `size` bytes,
    // or none; KeepEntryBuffer takes memory back among the spares, or frees it.
    EntryBuffer TakeEntryBuffer(uint64_t size);
    void KeepEntryBuffer(EntryBuffer buffer);
    static constexpr size_t kEntryUnit = size_t{64} << 10;
    bool AheadPasswordFor(const EntryAt& entry, char (&password)[256]) const;

    // A large entry's blocks (the caller's thread).
    vorx_Error ExtractBlocks(const EntryAt& entry, const char* password,
                             const EntryRequest& request);
    static PreparedBlock* TakeBlock(void* self, uint64_t position);
    void ReadAhead();
    void ReadBlock(BlockSlot& slot);
    // Lets the first held block go, its memory kept among the spares.
    void ReleaseFront();
    PageBuffer* TakeBuffer();
    void KeepBuffer(PageBuffer*& buffer);

    vorx_Stream* const handle_;
    const Settings settings_;
    unsigned workerCount_ = 0;
    Worker* workers_ = nullptr;

    platform::Mutex mutex_;
    // Every hand-over wakes only the side that waits for it: on a loaded machine each
    // wake-up may cost a time slice.
    platform::Condition work_;  // workers wait here for a task or the stop
    platform::Condition done_;  // the caller's thread waits here for a result
    unsigned idle_ = 0;         // workers waiting on work_
    bool waiting_ = false;      // the caller's thread waits on done_
    bool stopping_ = false;

    EntrySlot* entries_ = nullptr;  // entrySlots_ of them
    size_t entrySlots_ = 0;
    // Memory of entries decoded ahead whose bytes were written, kept for the next ones.
    EntryBuffer* entrySpares_ = nullptr;
    size_t entrySpareCount_ = 0;
    uint64_t entrySpareBytes_ = 0;
    uint64_t entryBytes_ = 0;  // sizes of the entries held
    uint64_t nextAhead_ = 0;   // the first entry Ahead has not looked at
    char aheadPassword_[256] = {};
    bool hasAheadPassword_ = false;

    // The large entry being decoded: its blocks in a ring, in file order.
    BlockSlot* blocks_ = nullptr;
    size_t blockCapacity_ = 0;
    size_t firstBlock_ = 0;
    size_t heldBlocks_ = 0;
    bool frontTaken_ = false;  // the first held block was handed to the pipeline
    uint64_t heldBytes_ = 0;
    const EntryAt* blockEntry_ = nullptr;
    uint64_t scanned_ = 0;  // compressed bytes read ahead
    bool scanEnded_ = true;
    int64_t fileLength_ = -1;
    const void* blockKey_ = nullptr;  // the entry's key schedule when it is encrypted
    PageBuffer** spares_ = nullptr;   // memory of blocks done, kept for the next ones
    size_t spareCount_ = 0;
};

}  // namespace vorx
