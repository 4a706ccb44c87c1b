// The entry index of an archive handle: where every record lies and the names table
// held in memory, so that looking an entry up by name or by index costs one record
// read instead of a walk over all records and names before it.
//
// It gives exactly the answers of the walks it replaces (ArchiveDirectory::Find and
// ::NameAt, and the record walk from the first record):
//   - record positions are those the open's walk found; a look-up past the last
//     record (a name found in the table's padding) walks on from the directory, as
//     the walk from the first record would;
//   - the names are the bytes from the table's start to the end of the file, read and
//     decrypted in the same units as the walks read them, so names in the padding and
//     behind it count;
//   - Find: the first equal name wins; like the walk in 512-byte units, it ignores a
//     last unit shorter than 16 bytes;
//   - NameAt: the name behind the index-th NUL (index 0: the first byte, unless it is
//     a NUL), refused when the bytes from its start to the end of the 16-byte unit
//     holding its NUL number kNameBufferSize (256) or more.
//
// The index reflects the archive as it was opened. When memory for it cannot be had,
// or the names table is implausibly large, the handle answers with the walks instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "container/format.h"
#include "container/result.h"

namespace vorx {

class ArchiveDirectory;

class EntryIndex {
public:
    EntryIndex() = default;
    ~EntryIndex();
    EntryIndex(const EntryIndex&) = delete;
    EntryIndex& operator=(const EntryIndex&) = delete;

    // --- Record positions, collected by the open's walk.

    // The position of the next record in walk order. Collection stops for good when
    // memory runs out; the handle then walks.
    void AddRecord(uint64_t position);
    // The walk reached the directory at `directoryOffset` after every record.
    void FinishRecords(uint64_t directoryOffset);
    // Whether the position of every record is known.
    bool HasRecords() const { return recordsComplete_ && enabled_; }
    // Number of records whose positions are known.
    uint64_t recordCount() const { return recordCount_; }
    // Position of record `index` for index < recordCount(); recordCount() gives the
    // directory's offset, where a walk past the last record goes on.
    uint64_t RecordPosition(uint64_t index) const;

    // --- Names.

    // Reads the names table of `directory` into memory once (later calls do nothing):
    // from its start until `entryCount` names are complete, or to the end of the file.
    void EnsureNames(const ArchiveDirectory& directory, uint64_t entryCount);

    // The answer of ArchiveDirectory::NameAt (0 and the name, or 4) in *result, when the
    // names read answer it; false when only the walk can (the caller then walks).
    bool NameAt(uint64_t index, char (&destination)[kNameBufferSize], Result* result) const;
    // The answer of ArchiveDirectory::Find in *found and *index, when the names read
    // answer it; false when only the walk can (a name not among them, whose first
    // occurrence may lie further on).
    bool Find(const char* name, bool* found, uint64_t* index) const;

    // Answers every look-up with the walks from now on (for comparisons in tests and
    // benchmarks), and frees the index.
    void Disable();

    // Most bytes of names the index holds in memory; beyond them the walks answer.
    static constexpr uint64_t kLargestTable = uint64_t{1} << 30;

private:
    enum class Names { NotRead, Ready, Unavailable };

    bool ReadNames(const ArchiveDirectory& directory, uint64_t entryCount);
    bool BuildHash();
    bool Insert(size_t name);
    void FreeNames();
    size_t NameStart(size_t name) const { return name == 0 ? 0 : nuls_[name - 1] + 1; }
    bool SameName(size_t name, const uint8_t* bytes, size_t length) const;

    bool enabled_ = true;

    uint64_t* records_ = nullptr;  // recordCount_ positions, then the directory offset
    uint64_t recordCount_ = 0;
    uint64_t recordCapacity_ = 0;
    bool recordsComplete_ = false;
    bool recordsFailed_ = false;

    Names names_ = Names::NotRead;
    uint8_t* table_ = nullptr;  // the bytes read from the table's start
    size_t tableLength_ = 0;
    bool tableComplete_ = false;  // read to the end of the file
    size_t findLength_ = 0;       // the part of them the search by name reads
    size_t* nuls_ = nullptr;      // offsets of the NUL bytes, ascending
    size_t nulCount_ = 0;
    size_t findNames_ = 0;    // names complete inside findLength_
    size_t* hash_ = nullptr;  // open addressing: name number + 1, or 0 for a free slot
    size_t hashMask_ = 0;
    size_t hashUsed_ = 0;
};

}  // namespace vorx
