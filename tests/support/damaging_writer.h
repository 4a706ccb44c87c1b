// Archives with faults in them, for the reader's tests: the product writer makes a
// sound archive, and the faults are patched into its file when it is finished: record
// sizes, CRC, directory fields and the entry count overridden, raw bytes spliced into an
// entry's data area, names the writer would refuse, padding that holds names, and a
// carrier that may hold the signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "writer/archive_writer.h"

namespace vorx::test {

// Record fields to write instead of the computed ones.
struct RecordOverrides {
    std::optional<uint64_t> uncompressedSize;
    std::optional<uint32_t> crc32;
};

struct DamagedDirectory {
    std::optional<std::string> password;  // encrypts the names table
    // Bytes behind the names, before the zeros up to a multiple of 16.
    Bytes padding;
    std::optional<uint32_t> namesLength;
    std::optional<uint32_t> namesCrc;
    std::optional<uint64_t> entryCount;  // the count in the archive header
};

// The writer's calls, with any name and carrier allowed. Write may not follow WriteRaw
// within one entry. The file is complete only after Finish.
class DamagingWriter {
public:
    bool Create(const std::string& path);
    bool WriteCarrier(const void* data, size_t length);
    bool BeginArchive();
    bool BeginEntry(const EntryOptions& options);
    bool Write(const void* data, size_t length);
    // Bytes put at the end of the entry's data area as they are; they count in
    // compressedSize only.
    bool WriteRaw(const void* data, size_t length);
    bool EndEntry(const RecordOverrides& overrides = {});
    bool Finish(const DamagedDirectory& directory = {});
    const std::string& Error() const { return error_.empty() ? writer_.Error() : error_; }

private:
    struct Entry {
        std::string name;
        uint64_t record = 0;   // offset of the record in the writer's file
        uint64_t dataEnd = 0;  // offset after its data there
        Bytes raw;
        RecordOverrides overrides;
    };
    bool Fail(const std::string& message);

    ArchiveWriter writer_;
    std::string path_;
    std::string error_;
    Bytes carrier_;
    std::vector<Entry> entries_;
};

// One entry of an archive made for a test: `data` through `encoder` (stored blocks when
// not set), or `raw` as its data area, whose record then declares the size and CRC-32
// of `data`; `overrides` make the record lie.
struct TestEntry {
    TestEntry() = default;
    TestEntry(std::string entryName, Bytes entryData, Bytes rawArea = {})
        : name(std::move(entryName)), data(std::move(entryData)), raw(std::move(rawArea)) {}

    std::string name;
    Bytes data;
    Bytes raw;
    RecordOverrides overrides;
    uint8_t timeKind = 1;
    uint64_t time = 0;
    std::optional<std::string> password;
    std::optional<BlockEncoder> encoder;
};

struct TestArchive {
    std::vector<TestEntry> entries;
    DamagedDirectory directory;
    Bytes carrier;
};

// Writes the archive to `path` with DamagingWriter (so that it may hold names the format
// does not allow, and the directory's faults); false with the reason in *error.
bool WriteTestArchive(const std::string& path, const TestArchive& archive, std::string* error);

}  // namespace vorx::test
