// Building blocks of an archive as bytes: records, block framing, the names table and
// its encryption. The streaming ArchiveWriter is made of these; tests use them
// directly to lay out archives byte by byte, damaged ones included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "container/format.h"

namespace vorx {

using Bytes = std::vector<uint8_t>;

Bytes EncodeArchiveHeader(uint32_t version, uint64_t entryCount);
Bytes EncodeEntryRecord(const EntryRecord& record);
Bytes EncodeDirectoryHeader(const DirectoryHeader& header);

// A whole block as stored: the 4-byte header value, then `body` padded with zeros to
// a multiple of 16 bytes, encrypted with `password` when it is not null. The header
// value is taken as given, so any type and size can be written.
Bytes EncodeBlock(uint32_t headerValue, const uint8_t* body, size_t bodyLength,
                  const char* password = nullptr);

// The names in order, each followed by a NUL. `namesLength` (the directory's count of
// meaningful bytes) is the size of the result.
Bytes JoinNames(const std::vector<std::string>& names);

// A names table: `names` (as made by JoinNames), then `padding`, then zeros up to the
// next multiple of 16. Bytes after the names are padding, whatever they hold.
Bytes PadNamesTable(const Bytes& names, const Bytes& padding = {});

// Encrypts `data` in place, every whole 8-byte block, keyed with the password's bytes.
void EncryptWithPassword(const char* password, uint8_t* data, size_t length);

// Whether `data` contains the full 8-byte signature anywhere.
bool ContainsSignature(const uint8_t* data, size_t length);

}  // namespace vorx
