#include "library/parallel_decoder.h"

#include <cstring>
#include <new>

#include "codec/decoder_state.h"
#include "codec/decrypt_buffer.h"
#include "codec/page_buffer.h"
#include "container/blowfish.h"
#include "container/crc32.h"
#include "container/format.h"
#include "library/stream.h"

namespace vorx {

enum class SlotState : uint8_t { Free, Queued, Running, Done };

struct ParallelDecoder::EntrySlot {
    SlotState state = SlotState::Free;
    bool finished = false;  // Done
    bool dropped = false;   // forgotten while it ran: freed once done
    bool declined = false;  // not decoded (memory, cancel, a body too large): decoded again
    bool hasPassword = false;
    EntryAt entry;
    char password[256];
    DecodedAhead result = {vorx_Success, nullptr, 0, -1, -1};
    EntryBuffer buffer = {nullptr, 0};  // the memory its decode goes to (result.data)
};

// One block of a large entry: read by the caller's thread, decrypted and decoded by a
// worker, taken by the pipeline in order.
struct ParallelDecoder::BlockSlot {
    uint64_t position = 0;
    BlockHeader block = {};
    PreparedBlock prepared;
    PageBuffer* body = nullptr;
    PageBuffer* output = nullptr;  // a compressed block's
    uint64_t cost = 0;             // memory counted against blockBytes
    bool queued = false;
    bool finished = true;  // nothing runs on it
};

struct ParallelDecoder::Worker {
    ParallelDecoder* owner = nullptr;
    platform::Thread thread;
};

namespace {

// The progress of a decode ahead is kept for the caller to report at the entry's turn.
void VORX_CALL RecordProgress(void* result, int percent) {
    DecodedAhead* r = static_cast<DecodedAhead*>(result);
    if (r->firstPercent < 0) r->firstPercent = percent;
    r->lastPercent = percent;
}

// The memory of an entry decoded ahead stands for the room it has under its rules:
// vorx_DecompressToPtr's memory of the entry's size, or vorx_DecompressToFile's window,
// which refuses a block above 64 MiB first (1) and then what the entry does not admit
// (3, as here beyond the entry's size).
vorx_Error RefuseAsMemory(OutputTarget*, uint64_t) { return vorx_CorruptArchive; }
vorx_Error RefuseAsFile(OutputTarget*, uint64_t needed) {
    return needed > kMaxBlockOutput ? vorx_Unknown : vorx_CorruptArchive;
}

}  // namespace

ParallelDecoder::ParallelDecoder(vorx_Stream* handle, const Settings& settings)
    : handle_(handle), settings_(settings) {
    const unsigned threads = settings.threads < kMaxThreads ? settings.threads : kMaxThreads;
    const unsigned wanted = settings.callerDecodes && threads > 0 ? threads - 1 : threads;
    if (threads <= 1 || wanted == 0) return;
    blockCapacity_ = 2 * static_cast<size_t>(threads);
    entrySlots_ = settings.entries < kMaxEntries ? settings.entries : kMaxEntries;
    entries_ = new (std::nothrow) EntrySlot[entrySlots_];
    entrySpares_ = new (std::nothrow) EntryBuffer[entrySlots_];
    blocks_ = new (std::nothrow) BlockSlot[blockCapacity_];
    spares_ = new (std::nothrow) PageBuffer*[2 * blockCapacity_];
    workers_ = new (std::nothrow) Worker[wanted];
    if (!entries_ || !entrySpares_ || !blocks_ || !spares_ || !workers_) return;
    // Fewer workers only slow it down: the caller decodes what none took.
    for (; workerCount_ < wanted; ++workerCount_) {
        workers_[workerCount_].owner = this;
        if (!workers_[workerCount_].thread.Start(&ParallelDecoder::Run, &workers_[workerCount_]))
            break;
    }
}

ParallelDecoder::~ParallelDecoder() {
    mutex_.Lock();
    stopping_ = true;
    work_.NotifyAll();
    mutex_.Unlock();
    delete[] workers_;  // joins each thread
    // The passwords go with the memory that held them.
    for (size_t i = 0; entries_ && i < entrySlots_; ++i) delete[] entries_[i].buffer.data;
    for (size_t i = 0; i < entrySpareCount_; ++i) delete[] entrySpares_[i].data;
    delete[] entrySpares_;
    if (entries_) std::memset(static_cast<void*>(entries_), 0, entrySlots_ * sizeof(EntrySlot));
    std::memset(aheadPassword_, 0, sizeof aheadPassword_);
    delete[] entries_;
    delete[] blocks_;
    for (size_t i = 0; i < spareCount_; ++i) delete spares_[i];
    delete[] spares_;
}

void ParallelDecoder::Run(void* worker) { static_cast<Worker*>(worker)->owner->Work(); }

void ParallelDecoder::Work() {
    DecoderState* state = CreateDecoderState();
    mutex_.Lock();
    while (!stopping_) {
        if (RunQueued(state)) {
            if (waiting_) done_.NotifyAll();
            continue;
        }
        ++idle_;
        work_.Wait(mutex_);
        --idle_;
    }
    mutex_.Unlock();
    ReleaseDecoderState(state);
}

void ParallelDecoder::WakeWorkers() {
    if (idle_ > 0) work_.NotifyAll();
}

bool ParallelDecoder::RunQueued(DecoderState* state) {
    for (size_t i = 0; i < heldBlocks_; ++i) {
        BlockSlot& slot = blocks_[(firstBlock_ + i) % blockCapacity_];
        if (!slot.queued) continue;
        slot.queued = false;
        mutex_.Unlock();
        RunBlock(slot, state);
        mutex_.Lock();
        slot.finished = true;
        return true;
    }
    EntrySlot* first = nullptr;
    for (size_t i = 0; i < entrySlots_; ++i) {
        EntrySlot& slot = entries_[i];
        if (slot.state == SlotState::Queued && (!first || slot.entry.index < first->entry.index))
            first = &slot;
    }
    if (!first) return false;
    first->state = SlotState::Running;
    first->buffer = TakeEntryBuffer(first->entry.info.uncompressedSize + 1);
    mutex_.Unlock();
    RunEntry(*first, state);
    mutex_.Lock();
    first->state = SlotState::Done;
    first->finished = true;
    return true;
}

void ParallelDecoder::RunEntry(EntrySlot& slot, DecoderState* state) {
    const uint64_t size = slot.entry.info.uncompressedSize;  // admitted by Ahead
    slot.result = DecodedAhead{vorx_Success, nullptr, 0, -1, -1};
    slot.declined = true;
    if (!slot.buffer.data) {
        // Whole units, so that the memory serves entries of other sizes after this one.
        const size_t room = (static_cast<size_t>(size) + kEntryUnit) & ~(kEntryUnit - 1);
        slot.buffer = EntryBuffer{new (std::nothrow) uint8_t[room], room};
        if (!slot.buffer.data) slot.buffer.capacity = 0;
    }
    if (!state || !slot.buffer.data) return;
    OutputTarget target{slot.buffer.data, size,
                        settings_.aheadRules == Rules::File ? &RefuseAsFile : &RefuseAsMemory};
    const DecodeContext context{
        handle_->file,   state,        slot.hasPassword ? slot.password : nullptr,
        &RecordProgress, &slot.result, &handle_->cancelRequested,
        kBlockRoom,      nullptr};
    const vorx_Error code =
        DecodeEntryBlocks(slot.entry, context, &target, nullptr, nullptr, &slot.result.produced);
    // What depends on this thread (its memory, the cancel flag, a body it may not read)
    // is left for the caller's own decode.
    if (code == kDeclined || code == vorx_OutOfMemory || code == vorx_InvalidArgument) return;
    slot.result.code = code;
    slot.result.data = slot.buffer.data;
    slot.declined = false;
}

ParallelDecoder::EntryBuffer ParallelDecoder::TakeEntryBuffer(uint64_t size) {
    // The smallest spare that holds it.
    size_t best = entrySpareCount_;
    for (size_t i = 0; i < entrySpareCount_; ++i)
        if (entrySpares_[i].capacity >= size &&
            (best == entrySpareCount_ || entrySpares_[i].capacity < entrySpares_[best].capacity))
            best = i;
    if (best == entrySpareCount_) return EntryBuffer{nullptr, 0};
    const EntryBuffer buffer = entrySpares_[best];
    entrySpares_[best] = entrySpares_[--entrySpareCount_];
    entrySpareBytes_ -= buffer.capacity;
    return buffer;
}

void ParallelDecoder::KeepEntryBuffer(EntryBuffer buffer) {
    if (!buffer.data) return;
    // At most one per slot, and no more memory than the entries decoded ahead may take.
    if (entrySpareCount_ < entrySlots_ &&
        entrySpareBytes_ + buffer.capacity <= settings_.entryBytes) {
        entrySpares_[entrySpareCount_++] = buffer;
        entrySpareBytes_ += buffer.capacity;
    } else {
        delete[] buffer.data;
    }
}

void ParallelDecoder::RunBlock(BlockSlot& slot, DecoderState* state) {
    PreparedBlock& p = slot.prepared;
    if (handle_->cancelRequested.load(std::memory_order_relaxed) != 0) return;
    if (blockKey_) {
        DecryptBuffer(p.body, slot.block.padded, *static_cast<const BlowfishContext*>(blockKey_));
        p.decrypted = true;
    }
    if (slot.block.type == static_cast<uint32_t>(BlockType::Stored)) {
        p.output = p.body;
        p.produced = slot.block.size;
        p.crc = Crc32::Of(p.body, slot.block.size);
        p.decoded = true;
        return;
    }
    if (!state || (!state->contexts && !(state->contexts = CreateContextTable()))) return;
    // Room for the writer's largest block; a block that wants more is decoded again at
    // its turn, with the room the entry really has.
    OutputTarget target{slot.output->data(), kBlockRoom, &RefuseAsMemory};
    p.produced = 0;
    p.code = DecodeCompressedBlock(p.body, slot.block.size,
                                   static_cast<uint32_t>(slot.block.padded), *state->contexts,
                                   state->scratch, target, kBlockRoom, nullptr, &p.produced);
    p.output = slot.output->data();
    if (p.code == vorx_Success) p.crc = Crc32::Of(p.output, static_cast<size_t>(p.produced));
    p.decoded = true;
}

void ParallelDecoder::AwaitDone(const bool& done) {
    while (!done) {
        if (settings_.callerDecodes) {
            DecoderState* state = handle_->decoder;
            if (!state) state = handle_->decoder = CreateDecoderState();
            if (state && RunQueued(state)) continue;
        }
        waiting_ = true;
        done_.Wait(mutex_);
        waiting_ = false;
    }
}

void ParallelDecoder::SetAheadPassword(const char* password) {
    if (workerCount_ == 0) return;
    platform::Locked lock(mutex_);
    const size_t length = password ? std::strlen(password) : 0;
    hasAheadPassword_ = password && length < sizeof aheadPassword_;
    std::memset(aheadPassword_, 0, sizeof aheadPassword_);
    if (hasAheadPassword_) std::memcpy(aheadPassword_, password, length);
    // Entries not started yet take the new password, or go when there is none.
    for (size_t i = 0; i < entrySlots_; ++i) {
        EntrySlot& slot = entries_[i];
        if (slot.state != SlotState::Queued) continue;
        if (AheadPasswordFor(slot.entry, slot.password))
            slot.hasPassword = hasAheadPassword_;
        else
            Drop(slot);
    }
}

// Copies the ahead password into `password`; false when `entry` needs one and there is none.
bool ParallelDecoder::AheadPasswordFor(const EntryAt& entry, char (&password)[256]) const {
    std::memcpy(password, aheadPassword_, sizeof password);
    return hasAheadPassword_ || !(entry.info.attributes & kAttributeEncrypted);
}

ParallelDecoder::EntrySlot* ParallelDecoder::SlotOf(uint64_t index) {
    for (size_t i = 0; i < entrySlots_; ++i)
        if (entries_[i].state != SlotState::Free && entries_[i].entry.index == index)
            return &entries_[i];
    return nullptr;
}

void ParallelDecoder::Drop(EntrySlot& slot) {
    if (slot.state == SlotState::Running) {
        slot.dropped = true;
        return;
    }
    KeepEntryBuffer(slot.buffer);
    slot.buffer = EntryBuffer{nullptr, 0};
    slot.result.data = nullptr;
    entryBytes_ -= slot.entry.info.uncompressedSize;
    slot.state = SlotState::Free;
    slot.finished = slot.dropped = false;
}

void ParallelDecoder::Ahead(uint64_t first) {
    if (workerCount_ == 0) return;
    platform::Locked lock(mutex_);
    size_t held = 0;
    for (size_t i = 0; i < entrySlots_; ++i) {
        EntrySlot& slot = entries_[i];
        if (slot.state != SlotState::Free && (slot.entry.index < first || slot.dropped)) Drop(slot);
        if (slot.state != SlotState::Free) ++held;
    }
    if (nextAhead_ < first) nextAhead_ = first;
    // Refilled in batches, which keeps the workers' wake-ups few.
    if (held > entrySlots_ / 2) return;
    const uint64_t count = vorx_GetNumFiles(handle_);
    for (size_t free = 0; nextAhead_ < count && held < entrySlots_; ++nextAhead_) {
        EntryAt entry;
        if (LocateEntryAt(handle_, nextAhead_, &entry) != vorx_Success) break;
        const uint64_t size = entry.info.uncompressedSize;
        char name[256];
        if (settings_.skipComment && NameOfEntry(handle_, nextAhead_, name) == vorx_Success &&
            std::strcmp(name, kCommentEntryName) == 0)
            continue;
        if (size > settings_.wholeEntry || size >= SIZE_MAX) continue;
        if (held > 0 && entryBytes_ + size > settings_.entryBytes) break;
        while (entries_[free].state != SlotState::Free) ++free;
        EntrySlot& slot = entries_[free];
        if (!AheadPasswordFor(entry, slot.password)) continue;
        slot.entry = entry;
        slot.hasPassword = hasAheadPassword_;
        slot.state = SlotState::Queued;
        slot.finished = slot.dropped = false;
        entryBytes_ += size;
        ++held;
    }
    WakeWorkers();
}

DecoderState* ParallelDecoder::CallerState() {
    if (!handle_->decoder) handle_->decoder = CreateDecoderState();
    return handle_->decoder;
}

vorx_Error ParallelDecoder::Extract(uint64_t index, const char* password,
                                    const EntryRequest& request) {
    if (workerCount_ == 0) return ExtractEntryByIndex(handle_, index, password, request);
    EntryAt entry;
    DecodedAhead result{vorx_Success, nullptr, 0, -1, -1};
    EntryBuffer buffer{nullptr, 0};
    bool ahead = false;
    {
        platform::Locked lock(mutex_);
        EntrySlot* slot = SlotOf(index);
        if (slot && !slot->dropped) {
            const bool encrypted = (slot->entry.info.attributes & kAttributeEncrypted) != 0;
            // Refused before anything is decoded: the slot stays for the next attempt.
            if (encrypted && !password) {
                if (request.owned) *request.owned = nullptr;
                if (request.descriptor) *request.descriptor = -1;
                return vorx_PasswordRequired;
            }
            const bool usable =
                request.rules == settings_.aheadRules &&
                (!encrypted || (slot->hasPassword && std::strcmp(slot->password, password) == 0));
            if (usable && slot->state == SlotState::Queued) {
                // Not started yet: decoded here, the way a worker would.
                slot->state = SlotState::Running;
                slot->buffer = TakeEntryBuffer(slot->entry.info.uncompressedSize + 1);
                mutex_.Unlock();
                RunEntry(*slot, CallerState());
                mutex_.Lock();
                slot->state = SlotState::Done;
                slot->finished = true;
            }
            if (usable) AwaitDone(slot->finished);
            if (usable && !slot->declined) {
                ahead = true;
                entry = slot->entry;
                result = slot->result;
                buffer = slot->buffer;
                slot->buffer = EntryBuffer{nullptr, 0};
            }
            Drop(*slot);
        }
    }
    if (ahead) {
        const vorx_Error e = ExtractEntryAt(handle_, entry, password, request, &result, nullptr);
        // The memory serves the next entries unless the caller took it over.
        if (result.data) {
            platform::Locked lock(mutex_);
            KeepEntryBuffer(buffer);
        }
        return e;
    }
    if (LocateEntryAt(handle_, index, &entry) != vorx_Success ||
        entry.info.uncompressedSize <= settings_.wholeEntry)
        return ExtractEntryByIndex(handle_, index, password, request);
    return ExtractBlocks(entry, password, request);
}

vorx_Error ParallelDecoder::ExtractBlocks(const EntryAt& entry, const char* password,
                                          const EntryRequest& request) {
    // The key schedule is made once for the entry and shared by the workers.
    BlowfishContext key;
    const bool encrypted = password && (entry.info.attributes & kAttributeEncrypted);
    if (encrypted) BlowfishSetPassword(&key, password);
    blockKey_ = encrypted ? &key : nullptr;
    blockEntry_ = &entry;
    scanned_ = 0;
    scanEnded_ = entry.info.compressedSize == 0;
    fileLength_ = platform::FileLength(handle_->file);
    frontTaken_ = false;
    const BlockSupply supply{&ParallelDecoder::TakeBlock, this};
    const vorx_Error result = ExtractEntryAt(handle_, entry, password, request, nullptr, &supply);
    // Whichever way the entry ended, no block is let go while a worker holds it.
    {
        platform::Locked lock(mutex_);
        for (size_t i = 0; i < heldBlocks_; ++i) {
            BlockSlot& slot = blocks_[(firstBlock_ + i) % blockCapacity_];
            if (slot.queued) slot.queued = false, slot.finished = true;
        }
        for (size_t i = 0; i < heldBlocks_; ++i)
            AwaitDone(blocks_[(firstBlock_ + i) % blockCapacity_].finished);
    }
    while (heldBlocks_ > 0) ReleaseFront();
    frontTaken_ = false;
    blockKey_ = nullptr;
    blockEntry_ = nullptr;
    std::memset(static_cast<void*>(&key), 0, sizeof key);
    return result;
}

PreparedBlock* ParallelDecoder::TakeBlock(void* self, uint64_t position) {
    ParallelDecoder& d = *static_cast<ParallelDecoder*>(self);
    // The previous block's turn is over.
    if (d.frontTaken_) d.ReleaseFront();
    d.ReadAhead();
    if (d.heldBlocks_ == 0) return nullptr;
    BlockSlot& slot = d.blocks_[d.firstBlock_];
    d.frontTaken_ = true;
    if (slot.position != position) return nullptr;  // the pipeline reads it itself
    platform::Locked lock(d.mutex_);
    if (slot.queued) {
        // No worker has it yet: its turn decodes it straight into the entry's target.
        slot.queued = false;
        slot.finished = true;
    }
    d.AwaitDone(slot.finished);
    return &slot.prepared;
}

void ParallelDecoder::ReadAhead() {
    size_t added = 0;
    while (!scanEnded_ && heldBlocks_ + added < blockCapacity_ &&
           (heldBlocks_ + added == 0 || heldBytes_ < settings_.blockBytes)) {
        BlockSlot& slot = blocks_[(firstBlock_ + heldBlocks_ + added) % blockCapacity_];
        ReadBlock(slot);
        heldBytes_ += slot.cost;
        ++added;
    }
    if (added == 0) return;
    platform::Locked lock(mutex_);
    for (size_t i = 0; i < added; ++i) {
        BlockSlot& slot = blocks_[(firstBlock_ + heldBlocks_ + i) % blockCapacity_];
        slot.queued = slot.prepared.body != nullptr;
        slot.finished = !slot.queued;
    }
    heldBlocks_ += added;
    WakeWorkers();
}

void ParallelDecoder::ReadBlock(BlockSlot& slot) {
    slot.prepared = PreparedBlock();
    slot.cost = 0;
    slot.position = blockEntry_->recordPosition + kEntryRecordSize + scanned_;
    uint8_t raw[kBlockHeaderSize];
    if (platform::FileReadAt(handle_->file, slot.position, raw, sizeof raw) !=
        static_cast<int64_t>(sizeof raw)) {
        slot.prepared.readError = vorx_CorruptArchive;
        scanEnded_ = true;
        return;
    }
    slot.prepared.header = ReadLe32(raw);
    // An unknown type ends the entry at its turn; nothing behind it is read.
    if (!ParseBlockHeader(slot.prepared.header, slot.position, &slot.block)) {
        scanEnded_ = true;
        return;
    }
    scanned_ += kBlockHeaderSize + slot.block.padded;
    if (scanned_ >= blockEntry_->info.compressedSize) scanEnded_ = true;
    // Larger bodies, and bodies the file does not hold, are left to the block's turn.
    const uint64_t start = slot.position + kBlockHeaderSize;
    const uint64_t length = fileLength_ < 0 ? 0 : static_cast<uint64_t>(fileLength_);
    if (slot.block.padded > kBlockRoom || start > length || slot.block.padded > length - start)
        return;
    const bool compressed = slot.block.type == static_cast<uint32_t>(BlockType::Compressed);
    slot.body = TakeBuffer();
    slot.output = compressed && slot.body ? TakeBuffer() : nullptr;
    if (!slot.body || (compressed && !slot.output) ||
        ReadBlockBody(handle_->file, slot.block, -1, slot.body->data()) != vorx_Success) {
        KeepBuffer(slot.body);
        KeepBuffer(slot.output);
        return;
    }
    slot.prepared.body = slot.body->data();
    // The memory itself counts, which a spare may hold more of than this block needs.
    slot.cost = slot.body->capacity() + (slot.output ? slot.output->capacity() : 0);
}

void ParallelDecoder::ReleaseFront() {
    BlockSlot& slot = blocks_[firstBlock_];
    KeepBuffer(slot.body);
    KeepBuffer(slot.output);
    slot.prepared = PreparedBlock();
    heldBytes_ -= slot.cost;
    slot.cost = 0;
    frontTaken_ = false;
    platform::Locked lock(mutex_);
    firstBlock_ = (firstBlock_ + 1) % blockCapacity_;
    --heldBlocks_;
}

// Every buffer of a block has the one size that holds the largest body read ahead or the
// largest output decoded ahead, so that a spare always fits and none is ever remapped.
PageBuffer* ParallelDecoder::TakeBuffer() {
    PageBuffer* buffer = spareCount_ > 0 ? spares_[--spareCount_] : new (std::nothrow) PageBuffer;
    if (buffer && !buffer->EnsureCapacity(BodyRoom(kBlockRoom))) {
        delete buffer;
        buffer = nullptr;
    }
    return buffer;
}

void ParallelDecoder::KeepBuffer(PageBuffer*& buffer) {
    if (buffer && spareCount_ < 2 * blockCapacity_)
        spares_[spareCount_++] = buffer;
    else
        delete buffer;
    buffer = nullptr;
}

}  // namespace vorx
