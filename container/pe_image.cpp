#include "container/pe_image.h"

#include <cstring>

#include "container/format.h"

namespace vorx {
namespace {

constexpr size_t kPeOffsetField = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
// The optional header's data directories start at these offsets (PE32 and PE32+); the
// certificate table is the fifth, and its "address" is a file offset.
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr size_t kDirectoriesPe32 = 96;
constexpr size_t kDirectoriesPe32Plus = 112;
constexpr uint32_t kCertificateDirectory = 4;

}  // namespace

PeParse ParsePeHeaders(const uint8_t* data, size_t size, PeHeaders* headers) {
    if (size < 2 || data[0] != 'M' || data[1] != 'Z') return PeParse::NotImage;
    if (size < kPeOffsetField + 4) return PeParse::CutShort;
    const uint64_t pe = ReadLe32(data + kPeOffsetField);
    if (pe > size || size - pe < 4 + kFileHeaderSize) return PeParse::CutShort;
    if (std::memcmp(data + pe, "PE\0\0", 4) != 0) return PeParse::NotImage;
    const uint8_t* fileHeader = data + pe + 4;
    const uint64_t optional = pe + 4 + kFileHeaderSize;
    const uint64_t optionalSize = ReadLe16(fileHeader + 16);
    headers->sectionCount = ReadLe16(fileHeader + 2);
    headers->sectionTable = optional + optionalSize;
    if (headers->sectionTable > size ||
        (size - headers->sectionTable) / kSectionHeaderSize < headers->sectionCount)
        return PeParse::CutShort;
    headers->certificateEnd = 0;
    const uint16_t magic = optionalSize >= 2 ? ReadLe16(data + optional) : 0;
    const size_t directories = magic == kMagicPe32       ? kDirectoriesPe32
                               : magic == kMagicPe32Plus ? kDirectoriesPe32Plus
                                                         : 0;
    const size_t entry = directories + kCertificateDirectory * 8;
    if (directories != 0 && optionalSize >= entry + 8) {
        const uint64_t offset = ReadLe32(data + optional + entry);
        const uint64_t length = ReadLe32(data + optional + entry + 4);
        if (length != 0) headers->certificateEnd = offset + length;
    }
    return PeParse::Image;
}

PeSection PeSectionAt(const uint8_t* data, const PeHeaders& headers, uint32_t i) {
    const uint8_t* s = data + headers.sectionTable + uint64_t{i} * kSectionHeaderSize;
    PeSection section;
    std::memcpy(section.name, s, 8);
    section.name[8] = '\0';
    section.virtualSize = ReadLe32(s + 8);
    section.rawSize = ReadLe32(s + 16);
    section.rawOffset = ReadLe32(s + 20);
    section.characteristics = ReadLe32(s + 36);
    return section;
}

uint64_t PeImageEnd(const uint8_t* data, const PeHeaders& headers) {
    uint64_t end = headers.certificateEnd;
    for (uint32_t i = 0; i < headers.sectionCount; ++i) {
        const PeSection s = PeSectionAt(data, headers, i);
        if (s.rawSize != 0 && s.rawOffset + s.rawSize > end) end = s.rawOffset + s.rawSize;
    }
    return end;
}

}  // namespace vorx
