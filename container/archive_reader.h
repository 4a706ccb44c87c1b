// Reading the archive file: positioned reads, the signature scan, the walk over the
// entry records, and the unit reader through which the names table is read.
// Every position comes from untrusted archive bytes, so position arithmetic saturates
// instead of wrapping: a position past the end of any file simply reads nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "container/blowfish.h"
#include "container/result.h"

namespace vorx {

inline uint64_t AddSaturating(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// Reads up to `count` bytes at `offset` from the start of the file. Returns the number
// of bytes delivered: fewer than `count` at the end of the file, 0 on any failure.
size_t ReadAt(int file, uint64_t offset, void* buffer, size_t count);

// File offset of the next record behind the record at `recordPosition`.
inline uint64_t NextRecordPosition(uint64_t recordPosition, uint64_t compressedSize) {
    return AddSaturating(AddSaturating(recordPosition, 40), compressedSize);
}

// Bytes of candidate positions the signature scan reads at a time.
constexpr size_t kSignatureScanChunk = 16 * 1024;

// Signature scan: the lowest offset p < fileLength - 8 at which the four magic bytes
// are followed by one of the two version values. Returns 0 and the offset, 4 when the
// file holds no signature (also for a file of 8 bytes or less), 13 on a short read.
Result FindArchiveStart(int file, uint64_t fileLength, uint64_t* archiveStart);

class EntryIndex;

// Walks `entryCount` records from `firstRecord`, skipping each record's data, and
// returns the offset behind the last one (the directory's). A record that cannot be
// read whole ends the walk with 3. When `index` is given, it learns every record's
// position.
Result WalkEntryRecords(int file, uint64_t firstRecord, uint64_t entryCount,
                        uint64_t* directoryOffset, EntryIndex* index = nullptr);

// Reads a region of the file as consecutive units counted from its start, decrypting
// every whole 8-byte block when a key is given. Reads are buffered in chunks that are
// a multiple of every unit size, so unit boundaries always fall where they would if
// each unit were read by itself; the last unit before the end of the file (or of the
// limit) may be short.
class UnitReader {
public:
    static constexpr size_t kChunkSize = 4096;

    UnitReader(int file, uint64_t start, const BlowfishContext* key, uint64_t limit = UINT64_MAX)
        : file_(file), next_(start), remaining_(limit), key_(key) {}
    UnitReader(const UnitReader&) = delete;
    UnitReader& operator=(const UnitReader&) = delete;

    // The next unit of at most `unitSize` bytes (a divisor of kChunkSize and a multiple
    // of 8); returns its length, 0 when nothing is left.
    size_t Next(size_t unitSize, const uint8_t** unit);

private:
    int file_;
    uint64_t next_;
    uint64_t remaining_;
    const BlowfishContext* key_;
    bool atEnd_ = false;
    size_t filled_ = 0;
    size_t used_ = 0;
    uint8_t buffer_[kChunkSize];
};

}  // namespace vorx
