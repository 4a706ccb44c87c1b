// Positioned reads, the signature scan, the record walk and the unit reader.
#include "container/archive_reader.h"

#include <cstring>

#include "container/entry_index.h"
#include "container/format.h"
#include "platform/platform.h"

namespace vorx {

size_t ReadAt(int file, uint64_t offset, void* buffer, size_t count) {
    if (count == 0) return 0;
    // No file reaches this far; a seek there would be refused anyway.
    if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
    const int64_t got = platform::FileReadAt(file, offset, buffer, count);
    return got > 0 ? static_cast<size_t>(got) : 0;
}

// The scan reads the file in large chunks and looks at every candidate position, which
// finds the same lowest match as stepping 8 bytes at a time and skipping to the next
// first magic byte: that skip never passes over a position where a signature can start.
Result FindArchiveStart(int file, uint64_t fileLength, uint64_t* archiveStart) {
    if (fileLength <= kSignatureSize) return kNotFound;
    // Candidates are the offsets p < fileLength - 8, so all 8 bytes of each one lie
    // inside the file.
    const uint64_t candidateEnd = fileLength - kSignatureSize;
    constexpr size_t kCandidatesPerChunk = kSignatureScanChunk;
    static_assert(kSignatureSize == 8);
    uint8_t buffer[kCandidatesPerChunk + kSignatureSize - 1];

    uint64_t position = 0;
    while (position < candidateEnd) {
        const uint64_t left = candidateEnd - position;
        const size_t candidates =
            left < kCandidatesPerChunk ? static_cast<size_t>(left) : kCandidatesPerChunk;
        const size_t want = candidates + kSignatureSize - 1;
        if (ReadAt(file, position, buffer, want) != want) return kReadFailed;

        size_t i = 0;
        while (i < candidates) {
            const void* hit = std::memchr(buffer + i, kMagic[0], candidates - i);
            if (!hit) break;
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - buffer);
            if (IsMagic(buffer + i) && IsKnownVersion(ReadLe32(buffer + i + 4))) {
                *archiveStart = position + i;
                return kSuccess;
            }
            ++i;
        }
        position += candidates;
    }
    return kNotFound;
}

Result WalkEntryRecords(int file, uint64_t firstRecord, uint64_t entryCount,
                        uint64_t* directoryOffset, EntryIndex* index) {
    uint64_t position = firstRecord;
    uint8_t raw[kEntryRecordSize];
    // Each step moves forward by at least one record, so a walk that runs past the end
    // of the file stops at the first read that comes back short, whatever the count says.
    for (uint64_t i = 0; i < entryCount; ++i) {
        if (ReadAt(file, position, raw, sizeof raw) != sizeof raw) return kCorruptArchive;
        if (index) index->AddRecord(position);
        position = NextRecordPosition(position, EntryRecord::Parse(raw).compressedSize);
    }
    if (index) index->FinishRecords(position);
    *directoryOffset = position;
    return kSuccess;
}

size_t UnitReader::Next(size_t unitSize, const uint8_t** unit) {
    if (used_ == filled_) {
        if (atEnd_) return 0;
        const size_t want = remaining_ < kChunkSize ? static_cast<size_t>(remaining_) : kChunkSize;
        const size_t got = ReadAt(file_, next_, buffer_, want);
        next_ = AddSaturating(next_, got);
        remaining_ -= got;
        if (got < want || remaining_ == 0) atEnd_ = true;
        if (key_) BlowfishDecryptBlocks(key_, buffer_, got);
        filled_ = got;
        used_ = 0;
        if (got == 0) return 0;
    }
    const size_t left = filled_ - used_;
    const size_t n = left < unitSize ? left : unitSize;
    *unit = buffer_ + used_;
    used_ += n;
    return n;
}

}  // namespace vorx
