// The headers of a Windows program image, read from its file's first bytes: where its
// sections lie, and where the image ends in the file. Every field is checked against the
// bytes at hand before it is used, since the file may be damaged, foreign or cut short.
// No operating-system header, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorx {

struct PeSection {
    char name[9];  // NUL-terminated
    uint32_t virtualSize;
    uint32_t rawSize;
    uint64_t rawOffset;  // in the file
    uint32_t characteristics;
};

constexpr uint32_t kPeSectionWritable = 0x80000000u;

struct PeHeaders {
    uint64_t sectionTable = 0;  // file offset of the first section header
    uint32_t sectionCount = 0;
    uint64_t certificateEnd = 0;  // where an appended signature ends (0: none)
};

enum class PeParse {
    Image,     // the headers and the whole section table lie in `data`
    NotImage,  // no "MZ" or no "PE" header where it says
    CutShort,  // a program image whose headers run past `size`
};

// Reads the headers from `data`, the first `size` bytes of a file.
PeParse ParsePeHeaders(const uint8_t* data, size_t size, PeHeaders* headers);

// Section `i` (below headers.sectionCount) of headers ParsePeHeaders accepted from `data`.
PeSection PeSectionAt(const uint8_t* data, const PeHeaders& headers, uint32_t i);

// Where the image ends in its file: behind the last raw byte of any section, or of an
// appended signature.
uint64_t PeImageEnd(const uint8_t* data, const PeHeaders& headers);

}  // namespace vorx
