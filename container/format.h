// The archive's byte layout, shared by the reader and the writer: record sizes,
// field offsets, signature and version values, block framing and padding rules.
// Records are decoded from and encoded to byte arrays with explicit little-endian
// accessors, never by casting a struct onto file bytes.
//
// File layout: [carrier] ArchiveHeader (24) { EntryRecord (40) data }* DirectoryHeader (12)
// names table (names with NUL terminators, padded to a multiple of 16, ends the file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorx {

// ---------------------------------------------------------------------------
// Little-endian access.

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t ReadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32);
}
inline void WriteLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void WriteLe64(uint8_t* p, uint64_t v) {
    WriteLe32(p, static_cast<uint32_t>(v));
    WriteLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// ---------------------------------------------------------------------------
// Signature and versions. The 8-byte signature is the four magic bytes followed by
// one of the two version values. The magic is kept as separate bytes so that no
// program holding this code contains the whole 8-byte signature in one piece.

constexpr uint8_t kMagic[4] = {'V', 'O', 'R', 'X'};
constexpr uint32_t kVersionFormat1 = 0x8F000001u;  // older format: header only is understood
constexpr uint32_t kVersionFormat2 = 0x8F000002u;  // current format
constexpr size_t kSignatureSize = 8;

inline bool IsMagic(const uint8_t* p) { return std::memcmp(p, kMagic, 4) == 0; }
inline bool IsKnownVersion(uint32_t v) { return v == kVersionFormat1 || v == kVersionFormat2; }

// ---------------------------------------------------------------------------
// Records.

constexpr size_t kArchiveHeaderSize = 24;
constexpr size_t kEntryRecordSize = 40;
constexpr size_t kDirectoryHeaderSize = 12;
constexpr size_t kBlockHeaderSize = 4;

struct ArchiveHeader {
    uint8_t signature[4];
    uint32_t version;
    uint64_t entryCount;
    uint64_t reserved;

    static ArchiveHeader Parse(const uint8_t (&raw)[kArchiveHeaderSize]) {
        ArchiveHeader h;
        std::memcpy(h.signature, raw, 4);
        h.version = ReadLe32(raw + 4);
        h.entryCount = ReadLe64(raw + 8);
        h.reserved = ReadLe64(raw + 16);
        return h;
    }
    void Serialize(uint8_t (&raw)[kArchiveHeaderSize]) const {
        std::memcpy(raw, signature, 4);
        WriteLe32(raw + 4, version);
        WriteLe64(raw + 8, entryCount);
        WriteLe64(raw + 16, reserved);
    }
};

// timeKind values: how EntryRecord::time is expressed.
enum TimeKind : uint8_t {
    kTimeUtcSeconds = 1,    // signed seconds since 1970 UTC
    kTimeLocalSeconds = 2,  // signed seconds since 1970 in local standard time
    kTimeFileTime = 3,      // any other value: a FILETIME (100 ns since 1601 UTC)
};

constexpr uint16_t kAttributeEncrypted = 0x0100;

struct EntryRecord {
    uint8_t timeKind;
    uint16_t attributes;
    uint64_t compressedSize;  // bytes of entry data after the record
    uint64_t uncompressedSize;
    uint64_t time;  // interpreted according to timeKind
    uint32_t crc32;

    static EntryRecord Parse(const uint8_t (&raw)[kEntryRecordSize]) {
        EntryRecord r;
        r.timeKind = raw[0];
        r.attributes = ReadLe16(raw + 2);
        r.compressedSize = ReadLe64(raw + 8);
        r.uncompressedSize = ReadLe64(raw + 16);
        r.time = ReadLe64(raw + 24);
        r.crc32 = ReadLe32(raw + 32);
        return r;
    }
    void Serialize(uint8_t (&raw)[kEntryRecordSize]) const {
        std::memset(raw, 0, kEntryRecordSize);
        raw[0] = timeKind;
        WriteLe16(raw + 2, attributes);
        WriteLe64(raw + 8, compressedSize);
        WriteLe64(raw + 16, uncompressedSize);
        WriteLe64(raw + 24, time);
        WriteLe32(raw + 32, crc32);
    }
};

struct DirectoryHeader {
    uint8_t namesEncrypted;  // 0: plain names table; any other value: encrypted
    uint32_t namesCrc;       // CRC-32 of the plain table, padding included
    uint32_t namesLength;    // meaningful bytes: all names with their NUL terminators

    static DirectoryHeader Parse(const uint8_t (&raw)[kDirectoryHeaderSize]) {
        DirectoryHeader d;
        d.namesEncrypted = raw[1];
        d.namesCrc = ReadLe32(raw + 4);
        d.namesLength = ReadLe32(raw + 8);
        return d;
    }
    void Serialize(uint8_t (&raw)[kDirectoryHeaderSize]) const {
        std::memset(raw, 0, kDirectoryHeaderSize);
        raw[1] = namesEncrypted;
        WriteLe32(raw + 4, namesCrc);
        WriteLe32(raw + 8, namesLength);
    }
};

// ---------------------------------------------------------------------------
// Block framing. A block is a 4-byte header (type in bits 0-2, size in bits 3-31)
// followed by a body padded with zeros to a multiple of 16 bytes.

enum class BlockType : uint32_t { Stored = 0, Compressed = 1 };

constexpr uint32_t kMaxBlockSizeField = (1u << 29) - 1;  // bytes (stored) or bits (compressed)
constexpr uint64_t kMaxBlockOutput = 64ull << 20;  // largest output of one block a reader accepts

inline uint64_t PadTo16(uint64_t n) { return (n + 15) & ~static_cast<uint64_t>(15); }

inline uint32_t BlockHeaderValue(BlockType type, uint32_t sizeField) {
    return (sizeField << 3) | static_cast<uint32_t>(type);
}
inline uint32_t BlockTypeOf(uint32_t header) { return header & 7u; }
inline uint32_t BlockSizeOf(uint32_t header) { return header >> 3; }

// Body length on disk of a block with the given header (type 0 or 1).
inline uint64_t PaddedBodyLength(uint32_t header) {
    const uint64_t size = BlockSizeOf(header);
    return BlockTypeOf(header) == 0 ? PadTo16(size) : PadTo16((size + 7) / 8);
}

// The longest entry name the reader looks up or hands out: 255 bytes, which fit with
// their NUL in a name buffer of kNameBufferSize bytes.
constexpr size_t kMaxReadNameBytes = 255;
constexpr size_t kNameBufferSize = kMaxReadNameBytes + 1;

// Name of the entry that holds the archive comment; never extracted.
constexpr char kCommentEntryName[] = "$comments$";

// The comment's line ends: every line feed not preceded by a carriage return gets one
// (the writer stores the comment so, the self-extractor shows it so: its edit control
// breaks lines at CR LF only). Writes the `length` bytes of `in` so widened to `out`,
// which has room for 2 x length bytes, and returns the widened length.
inline size_t WidenLineEnds(const char* in, size_t length, char* out) {
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) out[n++] = '\r';
        out[n++] = in[i];
    }
    return n;
}

}  // namespace vorx
