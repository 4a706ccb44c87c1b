// Building blocks of an archive as bytes.
#include "writer/archive_parts.h"

#include <cstring>

#include "container/blowfish.h"

namespace vorx {

Bytes EncodeArchiveHeader(uint32_t version, uint64_t entryCount) {
    ArchiveHeader header{};
    for (int i = 0; i < 4; ++i) header.signature[i] = kMagic[i];
    header.version = version;
    header.entryCount = entryCount;
    uint8_t raw[kArchiveHeaderSize];
    header.Serialize(raw);
    return Bytes(raw, raw + sizeof raw);
}

Bytes EncodeEntryRecord(const EntryRecord& record) {
    uint8_t raw[kEntryRecordSize];
    record.Serialize(raw);
    return Bytes(raw, raw + sizeof raw);
}

Bytes EncodeDirectoryHeader(const DirectoryHeader& header) {
    uint8_t raw[kDirectoryHeaderSize];
    header.Serialize(raw);
    return Bytes(raw, raw + sizeof raw);
}

Bytes EncodeBlock(uint32_t headerValue, const uint8_t* body, size_t bodyLength,
                  const char* password) {
    Bytes block(kBlockHeaderSize + PadTo16(bodyLength), 0);
    WriteLe32(block.data(), headerValue);
    if (bodyLength) std::memcpy(block.data() + kBlockHeaderSize, body, bodyLength);
    if (password)
        EncryptWithPassword(password, block.data() + kBlockHeaderSize,
                            block.size() - kBlockHeaderSize);
    return block;
}

Bytes JoinNames(const std::vector<std::string>& names) {
    Bytes joined;
    for (const std::string& name : names) {
        joined.insert(joined.end(), name.begin(), name.end());
        joined.push_back(0);
    }
    return joined;
}

Bytes PadNamesTable(const Bytes& names, const Bytes& padding) {
    Bytes table = names;
    table.insert(table.end(), padding.begin(), padding.end());
    table.resize(PadTo16(table.size()), 0);
    return table;
}

void EncryptWithPassword(const char* password, uint8_t* data, size_t length) {
    BlowfishContext key;
    BlowfishSetPassword(&key, password);
    BlowfishEncryptBlocks(&key, data, length);
}

bool ContainsSignature(const uint8_t* data, size_t length) {
    for (size_t i = 0; i + kSignatureSize <= length; ++i)
        if (IsMagic(data + i) && IsKnownVersion(ReadLe32(data + i + 4))) return true;
    return false;
}

}  // namespace vorx
