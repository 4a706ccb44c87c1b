// The entry index: record positions from the open's walk, and the names table read
// once into memory with the offsets of its NULs and a hash of its names.
#include "container/entry_index.h"

#include <cstdlib>
#include <cstring>

#include "container/archive_directory.h"
#include "container/archive_reader.h"
#include "container/blowfish.h"
#include "container/format.h"

namespace vorx {
namespace {

// Grows `*array` (of `*capacity` elements) to hold at least `needed` elements.
template <class T>
bool Grow(T** array, size_t* capacity, size_t needed) {
    if (needed <= *capacity) return true;
    size_t next = *capacity ? *capacity : 64;
    while (next < needed) {
        if (next > SIZE_MAX / 2 / sizeof(T)) return false;
        next *= 2;
    }
    T* grown = static_cast<T*>(std::realloc(*array, next * sizeof(T)));
    if (!grown) return false;
    *array = grown;
    *capacity = next;
    return true;
}

size_t HashBytes(const uint8_t* p, size_t length) {
    uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
    for (size_t i = 0; i < length; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
    return static_cast<size_t>(h ^ (h >> 29));
}

}  // namespace

EntryIndex::~EntryIndex() {
    std::free(records_);
    FreeNames();
}

void EntryIndex::Disable() {
    enabled_ = false;
    std::free(records_);
    records_ = nullptr;
    recordCount_ = recordCapacity_ = 0;
    recordsComplete_ = false;
    FreeNames();
    names_ = Names::Unavailable;
}

// ---------------------------------------------------------------------------
// Record positions

void EntryIndex::AddRecord(uint64_t position) {
    if (recordsFailed_ || !enabled_) return;
    size_t capacity = static_cast<size_t>(recordCapacity_);
    // One more slot than records for the directory offset.
    if (recordCount_ + 2 > SIZE_MAX ||
        !Grow(&records_, &capacity, static_cast<size_t>(recordCount_) + 2)) {
        recordsFailed_ = true;
        std::free(records_);
        records_ = nullptr;
        recordCount_ = recordCapacity_ = 0;
        return;
    }
    recordCapacity_ = capacity;
    records_[recordCount_++] = position;
}

void EntryIndex::FinishRecords(uint64_t directoryOffset) {
    if (recordsFailed_ || !enabled_) return;
    size_t capacity = static_cast<size_t>(recordCapacity_);
    if (!Grow(&records_, &capacity, static_cast<size_t>(recordCount_) + 1)) {
        recordsFailed_ = true;
        return;
    }
    recordCapacity_ = capacity;
    records_[recordCount_] = directoryOffset;
    recordsComplete_ = true;
}

uint64_t EntryIndex::RecordPosition(uint64_t index) const { return records_[index]; }

// ---------------------------------------------------------------------------
// Names

void EntryIndex::FreeNames() {
    std::free(table_);
    std::free(nuls_);
    std::free(hash_);
    table_ = nullptr;
    nuls_ = nullptr;
    hash_ = nullptr;
    tableLength_ = findLength_ = nulCount_ = findNames_ = hashMask_ = hashUsed_ = 0;
    tableComplete_ = false;
}

void EntryIndex::EnsureNames(const ArchiveDirectory& directory, uint64_t entryCount) {
    if (names_ != Names::NotRead || !enabled_) return;
    if (ReadNames(directory, entryCount) && BuildHash()) {
        names_ = Names::Ready;
    } else {
        FreeNames();
        names_ = Names::Unavailable;
    }
}

// Reads chunk after chunk through the unit reader the walks use, so that the bytes
// (decrypted with the same key, in the same 8-byte blocks) are the ones they see.
// Stops at the end of the file or once `entryCount` NULs are read: a chunk ends on a
// 16-byte boundary, so the unit holding the last NUL needed is then complete.
bool EntryIndex::ReadNames(const ArchiveDirectory& directory, uint64_t entryCount) {
    BlowfishContext key;
    UnitReader reader(directory.file, directory.TableStart(), directory.NamesKey(&key));
    size_t tableCapacity = 0;
    size_t nulCapacity = 0;
    for (;;) {
        if (nulCount_ >= entryCount) break;
        const uint8_t* chunk;
        const size_t n = reader.Next(UnitReader::kChunkSize, &chunk);
        if (n == 0) {
            tableComplete_ = true;
            break;
        }
        if (tableLength_ + n > kLargestTable) return false;
        if (!Grow(&table_, &tableCapacity, tableLength_ + n)) return false;
        std::memcpy(table_ + tableLength_, chunk, n);
        for (const uint8_t* p = chunk; (p = static_cast<const uint8_t*>(
                                            std::memchr(p, 0, n - static_cast<size_t>(p - chunk))));
             ++p) {
            if (!Grow(&nuls_, &nulCapacity, nulCount_ + 1)) return false;
            nuls_[nulCount_++] = tableLength_ + static_cast<size_t>(p - chunk);
        }
        tableLength_ += n;
        // Only the last chunk before the end of the file comes back short.
        if (n < UnitReader::kChunkSize) {
            tableComplete_ = true;
            break;
        }
    }

    // The search by name reads 512-byte units and stops at one shorter than 16 bytes:
    // only the last unit before the end of the file can be one.
    findLength_ = tableLength_;
    const size_t tail = tableLength_ % kFindUnit;
    if (tableComplete_ && tail > 0 && tail < kNameUnit) findLength_ -= tail;
    findNames_ = 0;
    while (findNames_ < nulCount_ && nuls_[findNames_] < findLength_) ++findNames_;
    return true;
}

bool EntryIndex::SameName(size_t name, const uint8_t* bytes, size_t length) const {
    const size_t start = NameStart(name);
    return nuls_[name] - start == length && std::memcmp(table_ + start, bytes, length) == 0;
}

// Adds name number `name` unless an equal name is already there (the first one wins).
bool EntryIndex::Insert(size_t name) {
    if ((hashUsed_ + 1) * 2 > hashMask_ + 1) {
        // Grow to keep the table at most half full; equal names were never stored twice.
        const size_t size = hashMask_ ? (hashMask_ + 1) * 2 : 64;
        if (size > SIZE_MAX / sizeof(size_t)) return false;
        size_t* grown = static_cast<size_t*>(std::calloc(size, sizeof(size_t)));
        if (!grown) return false;
        for (size_t i = 0; i <= hashMask_ && hash_; ++i) {
            if (!hash_[i]) continue;
            const size_t stored = hash_[i] - 1;
            const size_t start = NameStart(stored);
            size_t slot = HashBytes(table_ + start, nuls_[stored] - start) & (size - 1);
            while (grown[slot]) slot = (slot + 1) & (size - 1);
            grown[slot] = hash_[i];
        }
        std::free(hash_);
        hash_ = grown;
        hashMask_ = size - 1;
    }
    const size_t start = NameStart(name);
    const size_t length = nuls_[name] - start;
    size_t slot = HashBytes(table_ + start, length) & hashMask_;
    while (hash_[slot]) {
        if (SameName(hash_[slot] - 1, table_ + start, length)) return true;
        slot = (slot + 1) & hashMask_;
    }
    hash_[slot] = name + 1;
    ++hashUsed_;
    return true;
}

bool EntryIndex::BuildHash() {
    for (size_t name = 0; name < findNames_; ++name) {
        if (!Insert(name)) return false;
    }
    return true;
}

bool EntryIndex::Find(const char* name, bool* found, uint64_t* index) const {
    if (names_ != Names::Ready) return false;
    const size_t length = std::strlen(name);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(name);
    if (hash_) {
        size_t slot = HashBytes(bytes, length) & hashMask_;
        while (hash_[slot]) {
            if (SameName(hash_[slot] - 1, bytes, length)) {
                *found = true;
                *index = hash_[slot] - 1;
                return true;
            }
            slot = (slot + 1) & hashMask_;
        }
    }
    // Not among the names read: the answer when they reach the end of the file.
    if (!tableComplete_) return false;
    *found = false;
    return true;
}

bool EntryIndex::NameAt(uint64_t index, char (&destination)[kNameBufferSize],
                        Result* result) const {
    if (names_ != Names::Ready) return false;
    // The walk counts NULs up to the index-th one (index 0: the first byte, which must
    // not be a NUL) and then looks for the name's own NUL; when the bytes read run out
    // first, the walk would have read on to the end of the file.
    size_t start;
    if (index == 0) {
        if (tableLength_ == 0 || table_[0] == 0) {
            if (!tableComplete_ && tableLength_ == 0) return false;
            *result = kNotFound;
            return true;
        }
        start = 0;
    } else {
        if (index > nulCount_) {
            if (!tableComplete_) return false;
            *result = kNotFound;
            return true;
        }
        start = nuls_[index - 1] + 1;
    }
    const size_t nulNumber = index == 0 ? 0 : static_cast<size_t>(index);
    if (nulNumber >= nulCount_) {
        if (!tableComplete_) return false;
        *result = kNotFound;
        return true;
    }
    const size_t nul = nuls_[nulNumber];
    // The walk collects whole 16-byte units (counted from the table's start; the last
    // one may be short) and gives up at kNameBufferSize bytes.
    size_t unitEnd = (nul / kNameUnit + 1) * kNameUnit;
    if (unitEnd > tableLength_) unitEnd = tableLength_;
    if (unitEnd - start >= kNameBufferSize) {
        *result = kNotFound;
        return true;
    }
    std::memcpy(destination, table_ + start, nul - start + 1);
    *result = kSuccess;
    return true;
}

}  // namespace vorx
