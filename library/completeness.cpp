#include "library/completeness.h"

#include "container/archive_reader.h"
#include "container/format.h"
#include "container/pe_image.h"
#include "platform/platform.h"

namespace vorx {
namespace {

constexpr size_t kHeadersRead = 4096;

uint64_t Max(uint64_t a, uint64_t b) { return a > b ? a : b; }

// What the program image at the start of the file promises: 0 when it is none.
uint64_t ImagePromise(int file) {
    uint8_t head[kHeadersRead];
    const size_t got = ReadAt(file, 0, head, sizeof head);
    PeHeaders headers;
    switch (ParsePeHeaders(head, got, &headers)) {
        case PeParse::NotImage:
            return 0;
        case PeParse::CutShort:
            // The headers themselves are cut (a full read would have held them): how
            // much the image promises is unknown.
            return got < sizeof head ? kUnknownPromise : 0;
        case PeParse::Image:
            break;
    }
    return PeImageEnd(head, headers);
}

// What the archive found in the file promises: its records walked as far as the file
// holds them, then its directory and names table; 0 when there is no archive.
uint64_t ArchivePromise(int file, uint64_t length) {
    uint64_t start = 0;
    if (FindArchiveStart(file, length, &start) != kSuccess) return 0;
    uint8_t raw[kArchiveHeaderSize];
    if (ReadAt(file, start, raw, sizeof raw) != sizeof raw) return start + kArchiveHeaderSize;
    const ArchiveHeader header = ArchiveHeader::Parse(raw);
    if (header.version != kVersionFormat2) return 0;
    uint64_t position = start + kArchiveHeaderSize;
    for (uint64_t i = 0; i < header.entryCount; ++i) {
        uint8_t record[kEntryRecordSize];
        if (ReadAt(file, position, record, sizeof record) != sizeof record)
            return AddSaturating(position, kEntryRecordSize);
        position = NextRecordPosition(position, EntryRecord::Parse(record).compressedSize);
        if (position > length) return position;
    }
    uint8_t directory[kDirectoryHeaderSize];
    if (ReadAt(file, position, directory, sizeof directory) != sizeof directory)
        return AddSaturating(position, kDirectoryHeaderSize);
    const uint64_t names = DirectoryHeader::Parse(directory).namesLength;
    return AddSaturating(position + kDirectoryHeaderSize, (names + 15) / 16 * 16);
}

}  // namespace

Completeness CheckCompleteness(int file) {
    Completeness c{false, 0, 0};
    const int64_t length = platform::FileLength(file);
    if (length < 0) return c;
    c.length = static_cast<uint64_t>(length);
    c.promised = Max(ImagePromise(file), ArchivePromise(file, c.length));
    c.cutShort = c.promised > c.length;
    return c;
}

}  // namespace vorx
