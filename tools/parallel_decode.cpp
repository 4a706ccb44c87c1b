#include "tools/parallel_decode.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "codec/block_decoder.h"
#include "codec/decoder_state.h"
#include "codec/decrypt_buffer.h"
#include "codec/page_buffer.h"
#include "container/blowfish.h"
#include "container/crc32.h"
#include "container/format.h"
#include "library/extract.h"
#include "library/output_window.h"
#include "library/stream.h"
#include "platform/platform.h"

namespace tool {

using vorx::Crc32;

enum class SlotState { Queued, Running, Done };

void ParallelDecoder::WaitDone(const SlotState& state) {
    waiting_ = true;
    while (state != SlotState::Done) done_.Wait(mutex_);
    waiting_ = false;
}

void ParallelDecoder::WakeWorkers() {
    if (idle_ > 0) work_.NotifyAll();
}

struct EntrySlot {
    std::string name;
    uint64_t size = 0;
    SlotState state = SlotState::Queued;
    DecodedEntry result;
};

// One block of a large entry: read by the command's thread, decoded by a worker, taken
// by the command's thread in order.
struct BlockSlot {
    vorx_Error readError = vorx_Success;  // the block could not be read: it ends the entry
    uint32_t type = 0;
    uint32_t size = 0;  // the header's size field
    size_t padded = 0;
    std::unique_ptr<vorx::PageBuffer> body;      // padded bytes, then zeroed slack
    const vorx::BlowfishContext* key = nullptr;  // decrypts the body first when set
    uint64_t limit = 0;                          // output this decode may produce at most
    uint64_t cost = 0;                           // memory counted against kBlockBytesAhead
    SlotState state = SlotState::Queued;
    vorx_Error code = vorx_Success;
    uint64_t produced = 0;
    uint32_t crc = 0;
    const uint8_t* data = nullptr;             // the decoded bytes
    std::unique_ptr<vorx::PageBuffer> output;  // a compressed block's, from the spares
};

// What a thread keeps for its blocks: the context table and the block tables, and on
// the command's thread the window of a file extraction.
struct WorkerState {
    vorx::DecoderState* decoder = vorx::CreateDecoderState();
    std::unique_ptr<vorx::OutputWindow> window;
    WorkerState() = default;
    ~WorkerState() { vorx::ReleaseDecoderState(decoder); }
    WorkerState(const WorkerState&) = delete;
    WorkerState& operator=(const WorkerState&) = delete;
};

namespace {

// Output room a compressed block gets first: the writer's largest block. A block that
// needs more is decoded again with room for the largest block a reader accepts.
constexpr uint64_t kFirstRoom = 4ull << 20;
constexpr uint64_t kPage = 4096;

// A target that never grows; it notes when the decoder wanted more.
struct FixedTarget {
    vorx::OutputTarget target;  // first member: the decoder's pointer points at it
    bool wantedMore;
};
vorx::Result WantMore(vorx::OutputTarget* target, uint64_t) {
    reinterpret_cast<FixedTarget*>(target)->wantedMore = true;
    return vorx_CorruptArchive;
}
// The memory of vorx_DecompressToPtr: output beyond it is corrupt data.
vorx::Result RefuseMore(vorx::OutputTarget*, uint64_t) { return vorx_CorruptArchive; }

template <typename T>
void Remove(std::deque<T>& queue, const T& item) {
    queue.erase(std::remove(queue.begin(), queue.end(), item), queue.end());
}

bool ContextsReady(vorx::DecoderState* state) {
    return state && (state->contexts || (state->contexts = vorx::CreateContextTable()));
}

}  // namespace

void ParallelDecoder::AwaitDone(const SlotState& state) {
    while (commandDecodes_ && state != SlotState::Done &&
           !(blockQueue_.empty() && entryQueue_.empty()))
        RunQueued(*mainState_, main_);
    WaitDone(state);
}

void ParallelDecoder::RunQueued(WorkerState& state, vorx_Stream* handle) {
    if (!blockQueue_.empty()) {
        BlockSlot* slot = blockQueue_.front();
        blockQueue_.pop_front();
        RunTaken(state, *slot);
    } else {
        const std::shared_ptr<EntrySlot> slot = entryQueue_.front();  // alive while it runs
        entryQueue_.pop_front();
        RunTaken(handle, *slot);
    }
}

void ParallelDecoder::RunTaken(WorkerState& state, BlockSlot& slot) {
    slot.state = SlotState::Running;
    mutex_.Unlock();
    RunBlock(state, slot);
    mutex_.Lock();
    slot.state = SlotState::Done;
}

void ParallelDecoder::RunTaken(vorx_Stream* handle, EntrySlot& slot) {
    slot.state = SlotState::Running;
    mutex_.Unlock();
    RunEntry(handle, slot);
    mutex_.Lock();
    slot.state = SlotState::Done;
}

ParallelDecoder::ParallelDecoder(vorx_Stream* main, const std::string& path, const char* password,
                                 unsigned threads, bool commandDecodes)
    : main_(main),
      path_(path),
      password_(password ? password : ""),
      hasPassword_(password != nullptr),
      threads_(std::max(threads, 1u)),
      commandDecodes_(commandDecodes),
      mainState_(new WorkerState) {
    workers_.reserve(threads_);  // no allocation may fail once a worker runs
    for (unsigned i = commandDecodes_ ? 1 : 0; i < threads_; ++i) {
        std::unique_ptr<host::Thread> thread(new host::Thread);
        // Fewer workers only slow it down: the command's thread decodes what none took.
        if (!thread->Start(&ParallelDecoder::Run, this)) break;
        workers_.push_back(std::move(thread));
    }
}

ParallelDecoder::~ParallelDecoder() {
    {
        host::Locked lock(mutex_);
        stopping_ = true;
        entryQueue_.clear();
        work_.NotifyAll();
    }
    for (auto& worker : workers_) worker->Join();
}

void ParallelDecoder::Run(void* self) { static_cast<ParallelDecoder*>(self)->Work(); }

void ParallelDecoder::Work() {
    // A handle of its own: a handle's decodes run one at a time.
    vorx_Stream* handle = OpenAgain(path_, hasPassword_ ? password_.c_str() : nullptr);
    WorkerState state;
    {
        host::Locked lock(mutex_);
        for (;;) {
            while (!stopping_ && blockQueue_.empty() && (entryQueue_.empty() || !handle)) {
                ++idle_;
                work_.Wait(mutex_);
                --idle_;
            }
            if (stopping_) break;
            RunQueued(state, handle);
            if (waiting_) done_.NotifyAll();
        }
    }
    if (handle) vorx_CloseStream(handle);
}

// What the single-threaded command does for an entry of this size: its look-up, its
// memory and vorx_DecompressToPtr.
void ParallelDecoder::RunEntry(vorx_Stream* handle, EntrySlot& slot) {
    vorx_FileInfo found;
    if (vorx_GetFileInfo(handle, &found, slot.name.c_str()) != vorx_Success ||
        found.uncompressedSize > kWholeEntryLimit)
        return;
    std::unique_ptr<uint8_t[]> data(new (std::nothrow)
                                        uint8_t[static_cast<size_t>(found.uncompressedSize) + 1]);
    if (!data) return;
    slot.result.code = vorx_DecompressToPtr(handle, slot.name.c_str(), data.get(), nullptr,
                                            hasPassword_ ? password_.c_str() : nullptr);
    slot.result.decoded = true;
    if (slot.result.code == vorx_Success) slot.result.data = std::move(data);
}

void ParallelDecoder::Ahead(const std::vector<vorx_FileInfo>& entries, size_t first,
                            const char* skip) {
    host::Locked lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end() && it->first < first;) {
        // A running decode keeps its slot alive and drops it when done.
        if (it->second->state == SlotState::Queued) Remove(entryQueue_, it->second);
        entryBytes_ -= it->second->size;
        it = entries_.erase(it);
    }
    nextAhead_ = std::max(nextAhead_, first);
    // Refilled in batches, which keeps the workers' wake-ups few.
    if (entries_.size() > kEntriesAhead / 2) return;
    for (; nextAhead_ < entries.size() && entries_.size() < kEntriesAhead; ++nextAhead_) {
        const vorx_FileInfo& info = entries[nextAhead_];
        if (info.uncompressedSize > kWholeEntryLimit || (skip && std::strcmp(info.name, skip) == 0))
            continue;
        if (!entries_.empty() && entryBytes_ + info.uncompressedSize > kEntryBytesAhead) break;
        auto slot = std::make_shared<EntrySlot>();
        slot->name = info.name;
        slot->size = info.uncompressedSize;
        entries_.emplace(nextAhead_, slot);
        entryQueue_.push_back(slot);
        entryBytes_ += slot->size;
    }
    WakeWorkers();
}

DecodedEntry ParallelDecoder::Take(size_t index) {
    host::Locked lock(mutex_);
    const auto it = entries_.find(index);
    if (it == entries_.end()) return DecodedEntry{};
    const std::shared_ptr<EntrySlot> slot = it->second;
    entryBytes_ -= slot->size;
    entries_.erase(it);
    if (slot->state == SlotState::Queued) {
        Remove(entryQueue_, slot);
        RunTaken(main_, *slot);
    }
    AwaitDone(slot->state);
    return std::move(slot->result);
}

void ParallelDecoder::RunBlock(WorkerState& state, BlockSlot& slot) {
    if (slot.key) vorx::DecryptBuffer(slot.body->data(), slot.padded, *slot.key);
    if (slot.type == static_cast<uint32_t>(vorx::BlockType::Stored)) {
        slot.data = slot.body->data();
        slot.produced = slot.size;
        slot.crc = Crc32::Of(slot.data, slot.size);
        return;
    }
    if (!ContextsReady(state.decoder)) {
        slot.code = vorx_OutOfMemory;
        return;
    }
    uint64_t room = std::min(kFirstRoom, slot.limit);
    for (;;) {
        if (!slot.output->EnsureCapacity(static_cast<size_t>(room) + 1)) {
            slot.code = vorx_OutOfMemory;
            return;
        }
        FixedTarget target{{slot.output->data(), slot.output->capacity(), &WantMore}, false};
        slot.produced = 0;
        slot.code = vorx::DecodeCompressedBlock(slot.body->data(), slot.size,
                                                static_cast<uint32_t>(slot.padded),
                                                *state.decoder->contexts, state.decoder->scratch,
                                                target.target, slot.limit, nullptr, &slot.produced);
        if (!target.wantedMore || room >= slot.limit) break;
        room = slot.limit;
    }
    slot.data = slot.output->data();
    if (slot.code == vorx_Success)
        slot.crc = Crc32::Of(slot.data, static_cast<size_t>(slot.produced));
}

// The block decoded again on the command's thread as the library decodes it, with the
// room the entry really has left and the target of the call the command would make.
vorx_Error ParallelDecoder::Redecode(BlockSlot& slot, uint64_t remaining, BlockRules rules) {
    WorkerState& state = *mainState_;
    if (!ContextsReady(state.decoder)) return vorx_OutOfMemory;
    vorx::OutputWindow::Target window{};
    vorx::OutputTarget memory{};
    vorx::OutputTarget* target = &memory;
    if (rules == BlockRules::File) {
        if (!state.window) {
            state.window.reset(new (std::nothrow) vorx::OutputWindow);
            if (!state.window || !state.window->Create(vorx::OutputWindow::kInitialUnits,
                                                       vorx::OutputWindow::kUnitSize,
                                                       vorx::OutputWindow::kMaximumUnits)) {
                state.window.reset();
                return vorx_OutOfMemory;
            }
        }
        window = state.window->MakeTarget();
        target = &window.target;
    } else {
        if (!slot.output->EnsureCapacity(static_cast<size_t>(remaining) + 1))
            return vorx_OutOfMemory;
        memory = vorx::OutputTarget{slot.output->data(), remaining, &RefuseMore};
    }
    slot.produced = 0;
    const vorx_Error e = vorx::DecodeCompressedBlock(
        slot.body->data(), slot.size, static_cast<uint32_t>(slot.padded), *state.decoder->contexts,
        state.decoder->scratch, *target, remaining, nullptr, &slot.produced);
    if (e != vorx_Success) return e;
    slot.data = target->base;
    slot.crc = Crc32::Of(slot.data, static_cast<size_t>(slot.produced));
    return vorx_Success;
}

std::unique_ptr<vorx::PageBuffer> ParallelDecoder::TakeBuffer(Spares& spares, size_t size) {
    std::unique_ptr<vorx::PageBuffer> buffer;
    if (!spares.empty()) {
        buffer = std::move(spares.back());
        spares.pop_back();
    } else {
        buffer.reset(new (std::nothrow) vorx::PageBuffer);
    }
    if (buffer && !buffer->EnsureCapacity(size)) buffer.reset();
    return buffer;
}

void ParallelDecoder::KeepBuffer(Spares& spares, std::unique_ptr<vorx::PageBuffer>& buffer) {
    // Only the usual sizes: one block of the largest size stays no longer than needed.
    if (buffer && buffer->capacity() <= kFirstRoom + 2 * kPage &&
        spares.size() < 2 * static_cast<size_t>(threads_))
        spares.push_back(std::move(buffer));
    buffer.reset();
}

std::unique_ptr<BlockSlot> ParallelDecoder::ReadBlock(uint64_t dataStart, uint64_t* scanned,
                                                      const vorx_FileInfo& info,
                                                      int64_t fileLength) {
    std::unique_ptr<BlockSlot> slot(new (std::nothrow) BlockSlot);
    if (!slot) return slot;
    const int file = main_->file;
    uint8_t raw[vorx::kBlockHeaderSize];
    if (platform::FileSeek(file, static_cast<int64_t>(dataStart + *scanned),
                           platform::Whence::Begin) < 0 ||
        platform::FileRead(file, raw, sizeof raw) != static_cast<int64_t>(sizeof raw)) {
        slot->readError = vorx_CorruptArchive;
        return slot;
    }
    const uint32_t header = vorx::ReadLe32(raw);
    slot->type = vorx::BlockTypeOf(header);
    if (slot->type != static_cast<uint32_t>(vorx::BlockType::Stored) &&
        slot->type != static_cast<uint32_t>(vorx::BlockType::Compressed)) {
        slot->readError = vorx_CorruptArchive;
        return slot;
    }
    slot->size = vorx::BlockSizeOf(header);
    slot->padded = static_cast<size_t>(vorx::PaddedBodyLength(header));
    const uint64_t bodyStart = dataStart + *scanned + vorx::kBlockHeaderSize;
    *scanned += vorx::kBlockHeaderSize + slot->padded;
    // A body the file cannot hold would be a short read: refused before the memory.
    const uint64_t length = static_cast<uint64_t>(fileLength);
    if (fileLength >= 0 && (bodyStart > length || slot->padded > length - bodyStart)) {
        slot->readError = vorx_CorruptArchive;
        return slot;
    }
    const size_t slack = vorx::kBodySlackBytes + vorx::kBodyOverreadBytes;
    slot->body = TakeBuffer(spareBodies_, slot->padded + slack);
    if (slot->type == static_cast<uint32_t>(vorx::BlockType::Compressed))
        slot->output = TakeBuffer(spareOutputs_, static_cast<size_t>(kFirstRoom) + 1);
    if (!slot->body ||
        (!slot->output && slot->type == static_cast<uint32_t>(vorx::BlockType::Compressed))) {
        slot->readError = vorx_OutOfMemory;
        return slot;
    }
    if (slot->padded > 0 && platform::FileRead(file, slot->body->data(), slot->padded) !=
                                static_cast<int64_t>(slot->padded)) {
        slot->readError = vorx_CorruptArchive;
        return slot;
    }
    std::memset(slot->body->data() + slot->padded, 0, slack);
    slot->limit = std::min<uint64_t>(info.uncompressedSize, vorx::kMaxBlockOutput);
    // The memory itself counts, which a spare may hold more of than this block needs.
    slot->cost = slot->body->capacity() + (slot->output ? slot->output->capacity() : 0);
    return slot;
}

vorx_Error ParallelDecoder::DecodeBlocks(const vorx_FileInfo& info, uint64_t recordPosition,
                                         const char* password, BlockRules rules, int output,
                                         const DecodeProgress* progress) {
    const uint64_t compressedSize = info.compressedSize;
    const uint64_t dataStart = recordPosition + vorx::kEntryRecordSize;
    vorx::BlowfishContext key;
    const bool encrypted = password && (info.attributes & vorx::kAttributeEncrypted);
    if (encrypted) vorx::BlowfishSetPassword(&key, password);
    const int64_t fileLength = compressedSize > 0 ? platform::FileLength(main_->file) : 0;

    // The blocks held, in entry order. Whichever way this returns (an exception
    // included), none is freed while a worker may still hold it.
    struct Held {
        ParallelDecoder& decoder;
        std::vector<std::unique_ptr<BlockSlot>> slots;
        ~Held() {
            host::Locked lock(decoder.mutex_);
            for (auto& slot : slots) {
                if (slot->state == SlotState::Queued) {
                    Remove(decoder.blockQueue_, slot.get());
                    slot->state = SlotState::Done;
                }
            }
            for (auto& slot : slots) decoder.WaitDone(slot->state);
        }
    } held{*this, {}};
    const size_t maxHeld = 2 * static_cast<size_t>(threads_);
    held.slots.reserve(maxHeld);
    uint64_t heldBytes = 0, scanned = 0, produced = 0;
    uint32_t crc = 0;  // of no bytes
    bool scanEnded = compressedSize == 0;
    vorx_Error result = vorx_Success;
    while (result == vorx_Success) {
        while (!scanEnded && held.slots.size() < maxHeld &&
               (held.slots.empty() || heldBytes < kBlockBytesAhead)) {
            std::unique_ptr<BlockSlot> slot = ReadBlock(dataStart, &scanned, info, fileLength);
            if (!slot) {
                result = vorx_OutOfMemory;
                break;
            }
            scanEnded = slot->readError != vorx_Success || scanned >= compressedSize;
            slot->key = encrypted ? &key : nullptr;
            heldBytes += slot->cost;
            BlockSlot* queued = slot->readError == vorx_Success ? slot.get() : nullptr;
            if (!queued) slot->state = SlotState::Done;
            held.slots.push_back(std::move(slot));
            if (queued) {
                host::Locked lock(mutex_);
                blockQueue_.push_back(queued);
                WakeWorkers();
            }
        }
        if (result != vorx_Success || held.slots.empty()) break;
        BlockSlot& slot = *held.slots.front();
        {
            host::Locked lock(mutex_);
            if (slot.state == SlotState::Queued) {
                Remove(blockQueue_, &slot);
                RunTaken(*mainState_, slot);
            }
            AwaitDone(slot.state);
        }
        const uint64_t remaining = info.uncompressedSize - produced;
        if (gInterrupted) {
            result = vorx_InvalidArgument;
        } else if (slot.readError != vorx_Success) {
            result = slot.readError;
        } else if (slot.type == static_cast<uint32_t>(vorx::BlockType::Stored) &&
                   slot.size > remaining) {
            result = vorx_CorruptArchive;
        } else if (slot.type == static_cast<uint32_t>(vorx::BlockType::Compressed) &&
                   (slot.code != vorx_Success || slot.produced > remaining)) {
            result = Redecode(slot, remaining, rules);
        }
        if (result == vorx_Success && slot.produced > 0) {
            crc = Crc32::Combine(crc, slot.crc, slot.produced);
            if (output >= 0 &&
                platform::FileWrite(output, slot.data, static_cast<size_t>(slot.produced)) !=
                    static_cast<int64_t>(slot.produced))
                result = vorx_WriteFailed;
            produced += slot.produced;
        }
        heldBytes -= slot.cost;
        KeepBuffer(spareBodies_, slot.body);
        KeepBuffer(spareOutputs_, slot.output);
        held.slots.erase(held.slots.begin());
        if (progress && info.uncompressedSize > 0)
            OnDecodeProgress(const_cast<DecodeProgress*>(progress),
                             static_cast<int>(100.0 * static_cast<double>(produced) /
                                              static_cast<double>(info.uncompressedSize)));
    }
    if (result != vorx_Success) return result;
    if (progress) OnDecodeProgress(const_cast<DecodeProgress*>(progress), 100);
    return crc == info.crc32 ? vorx_Success : vorx_CrcMismatch;
}

vorx_Error ParallelDecoder::Test(const char* name, const char* password, BlockRules rules,
                                 const DecodeProgress* progress) {
    vorx_FileInfo info;
    uint64_t recordPosition = 0;
    if (vorx::LocateEntry(main_, &info, &recordPosition, name) != vorx_Success)
        return vorx_NotFound;
    if (rules == BlockRules::Memory && (info.uncompressedSize >> 32) != 0) return vorx_OutOfMemory;
    if (!password && (info.attributes & vorx::kAttributeEncrypted)) return vorx_PasswordRequired;
    return DecodeBlocks(info, recordPosition, password, rules, -1, progress);
}

vorx_Error ParallelDecoder::ExtractToFile(const char* name, const host::TemporaryFile& temporary,
                                          const host::Folder& folder, const char* password,
                                          const DecodeProgress* progress) {
    vorx_FileInfo info;
    uint64_t recordPosition = 0;
    if (vorx::LocateEntry(main_, &info, &recordPosition, name) != vorx_Success)
        return vorx_NotFound;
    if (!password && (info.attributes & vorx::kAttributeEncrypted)) return vorx_PasswordRequired;
    uint64_t room = 0;
    if (host::FreeBytesIn(folder, &room) && info.uncompressedSize > room)
        return vorx_OutOfDiskSpace;
    const int output = temporary.OpenForWriting();
    if (output < 0) return vorx_InvalidArgument;
    const vorx_Error result =
        DecodeBlocks(info, recordPosition, password, BlockRules::File, output, progress);
    return FinishOutput(output, info.lastWriteSeconds, result);
}

}  // namespace tool
