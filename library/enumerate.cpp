// Enumeration by index with the handle's cursor, look-up by name, and the conversion
// of entry records into file information.
#include <cstring>

#include "container/archive_reader.h"
#include "library/stream.h"
#include "platform/platform.h"

namespace vorx {
namespace {

constexpr size_t kMaxNameLength = 255;

bool ReadRecord(int file, uint64_t position, EntryRecord* record) {
    uint8_t raw[kEntryRecordSize];
    // A record cut short by the end of the file is as unreadable as a missing one.
    if (ReadAt(file, position, raw, sizeof raw) != sizeof raw) return false;
    *record = EntryRecord::Parse(raw);
    return true;
}

// Reads the records from entry `current`'s, at `*position`, on to entry `index`'s, into
// `record`, leaving `*position` at it. False when one of them cannot be read.
bool WalkToRecord(int file, uint64_t current, uint64_t index, uint64_t* position,
                  EntryRecord* record) {
    for (;; ++current) {
        if (!ReadRecord(file, *position, record)) return false;
        if (current == index) return true;
        *position = NextRecordPosition(*position, record->compressedSize);
    }
}

// The index of the first entry called `name`, the same way.
bool FindEntryName(vorx_Stream* handle, const char* name, uint64_t* index) {
    handle->index.EnsureNames(handle->directory, handle->header.entryCount);
    bool found;
    if (handle->index.Find(name, &found, index)) return found;
    return handle->directory.Find(name, index);
}

void StoreFileTime(uint64_t value, vorx_FileTime* out) {
    out->lowDateTime = static_cast<uint32_t>(value);
    out->highDateTime = static_cast<uint32_t>(value >> 32);
}

}  // namespace

// The name of entry `index`, from the handle's index when it can answer, else by the
// walk over the names table: the same answer either way.
vorx_Error NameOfEntry(vorx_Stream* handle, uint64_t index, char (&destination)[256]) {
    handle->index.EnsureNames(handle->directory, handle->header.entryCount);
    vorx_Error result;
    if (handle->index.NameAt(index, destination, &result)) return result;
    return handle->directory.NameAt(index, destination);
}

void SecondsToFileTime(int64_t seconds, vorx_FileTime* fileTime) {
    // The round trip through local calendar time: the local-time conversion applies the
    // daylight-saving rules of that date, the conversion back the present ones.
    platform::CalendarTime calendar;
    uint64_t local = 0, utc = 0;
    if (platform::LocalCalendarTime(seconds, &calendar) &&
        platform::CalendarToFileTime(calendar, &local) &&
        platform::LocalFileTimeToUtc(local, &utc)) {
        StoreFileTime(utc, fileTime);
        return;
    }
    // The runtime cannot express this instant as a local calendar time (the Windows
    // runtime covers 1970 to 3000 only). Store the exact UTC instant when a FILETIME
    // holds it, and 0 (no time) when it lies before 1601 or beyond the FILETIME range.
    if (!platform::UtcFileTime(seconds, &utc)) utc = 0;
    StoreFileTime(utc, fileTime);
}

// The public header restates two facts of the archive's layout.
static_assert(VORX_ATTRIBUTE_ENCRYPTED == kAttributeEncrypted);
static_assert(sizeof(vorx_FileInfo{}.name) == kNameBufferSize);

void RecordToFileInfo(const EntryRecord& record, vorx_FileInfo* info) {
    info->attributes = record.attributes;
    info->crc32 = record.crc32;
    info->compressedSize = record.compressedSize;
    info->uncompressedSize = record.uncompressedSize;
    switch (record.timeKind) {
        case kTimeUtcSeconds: {
            const int64_t seconds = static_cast<int64_t>(record.time);
            info->lastWriteSeconds = seconds;
            SecondsToFileTime(seconds, &info->lastWriteTime);
            break;
        }
        case kTimeLocalSeconds: {
            // Local standard time: add the zone's offset west of UTC (no daylight saving).
            // The sum is taken modulo 2^64 so that no archive value overflows a signed type.
            const int16_t bias = static_cast<int16_t>(platform::TimeZoneBiasMinutes());
            const uint64_t shift = static_cast<uint64_t>(static_cast<int64_t>(bias) * 60);
            const int64_t seconds = static_cast<int64_t>(record.time + shift);
            info->lastWriteSeconds = seconds;
            SecondsToFileTime(seconds, &info->lastWriteTime);
            break;
        }
        default:
            info->lastWriteSeconds = 0;
            StoreFileTime(record.time, &info->lastWriteTime);
            break;
    }
}

vorx_Error LocateEntry(vorx_Stream* handle, vorx_FileInfo* info, uint64_t* recordPosition,
                       const char* name) {
    if (!handle || !name) return vorx_InvalidArgument;
    // Such a name cannot be stored, and it would not fit the name field.
    if (strnlen(name, kMaxNameLength + 1) > kMaxNameLength) return vorx_InvalidArgument;
    if (handle->header.entryCount == 0) return vorx_NotFound;
    if (handle->header.version == kVersionFormat1) return vorx_NotFound;
    if (handle->header.version != kVersionFormat2) return vorx_Unknown;
    // Names are never empty; an empty one would only match the padding of the table.
    if (name[0] == '\0') return vorx_NotFound;

    uint64_t index = 0;
    if (!FindEntryName(handle, name, &index)) return vorx_NotFound;

    // Walk the records from the first one; the cursor is neither used nor changed.
    // The index may lie beyond entryCount when the name was found in the table's
    // padding; the walk then reads whatever stands there, as it would for any index.
    // The handle's index knows where the walk would arrive: at the record itself, or
    // at the directory, where a walk past the last record goes on.
    uint64_t position = handle->archiveStart + kArchiveHeaderSize;
    uint64_t current = 0;
    if (handle->index.HasRecords()) {
        const uint64_t known = handle->index.recordCount();
        current = index < known ? index : known;
        position = handle->index.RecordPosition(current);
    }
    EntryRecord record;
    if (!WalkToRecord(handle->file, current, index, &position, &record)) return vorx_ReadFailed;

    if (info) {
        RecordToFileInfo(record, info);
        std::memcpy(info->name, name, std::strlen(name) + 1);
    }
    if (recordPosition) *recordPosition = position;
    return vorx_Success;
}

vorx_Error LocateEntryAt(vorx_Stream* handle, uint64_t index, EntryAt* entry) {
    if (!handle || index >= handle->header.entryCount) return vorx_InvalidArgument;
    if (handle->header.version != kVersionFormat2) return vorx_NotFound;
    uint64_t position = handle->archiveStart + kArchiveHeaderSize;
    uint64_t current = 0;
    if (handle->index.HasRecords()) {
        current = index;
        position = handle->index.RecordPosition(index);
    }
    EntryRecord record;
    if (!WalkToRecord(handle->file, current, index, &position, &record)) return vorx_ReadFailed;
    entry->index = index;
    entry->recordPosition = position;
    RecordToFileInfo(record, &entry->info);
    entry->info.name[0] = '\0';
    return vorx_Success;
}

}  // namespace vorx

using namespace vorx;

extern "C" vorx_Error VORX_CALL vorx_EnumerateFiles(vorx_Stream* handle, vorx_FileInfo* info,
                                                    uint64_t index) {
    if (!handle || !info) return vorx_InvalidArgument;
    if (index >= handle->header.entryCount) return vorx_InvalidArgument;
    if (handle->header.version != kVersionFormat2) return vorx_NotFound;

    // Walk on from the cursor when it lies at or before the wanted record; otherwise
    // restart at the first record. Reading indices 0, 1, 2 ... reads each record once.
    uint64_t position, current;
    if (index >= handle->cursorIndex) {
        position = handle->cursorPosition;
        current = handle->cursorIndex;
    } else {
        position = handle->archiveStart + kArchiveHeaderSize;
        current = 0;
    }
    EntryRecord record;
    if (!WalkToRecord(handle->file, current, index, &position, &record)) return vorx_ReadFailed;

    // The cursor moves before the name is looked up, whatever that look-up gives.
    handle->cursorPosition = NextRecordPosition(position, record.compressedSize);
    handle->cursorIndex = index + 1;
    RecordToFileInfo(record, info);
    return NameOfEntry(handle, index, info->name);
}

extern "C" vorx_Error VORX_CALL vorx_GetFileInfo(vorx_Stream* handle, vorx_FileInfo* info,
                                                 const char* name) {
    return LocateEntry(handle, info, nullptr, name);
}
