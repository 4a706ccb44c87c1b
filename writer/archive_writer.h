// The streaming archive writer. It writes an archive (optionally behind a carrier such
// as the self-extractor stub) straight to its output file with bounded memory: each
// entry's record is written with placeholder sizes, then its data block by block as it
// arrives, then the record is patched in place with the final sizes and CRC-32. The
// directory and names table follow the last entry, and the header's entry count is
// patched at the end. Sizes and offsets are 64-bit throughout.
//
// How a chunk of entry bytes becomes a block is a plug-in (BlockEncoder), so the
// compressor plugs in beside the stored-block encoder.
//
// Every call returns false on failure and Error() says why; after a failure the writer
// refuses everything else. A writer destroyed before Finish closes its file and leaves
// it incomplete: the caller removes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "container/crc32.h"
#include "container/format.h"
#include "writer/archive_parts.h"

namespace vorx {

// One block made from one chunk of entry bytes. The writer adds the 4-byte header,
// the zero padding to 16 bytes and, for an encrypted entry, the encryption.
struct EncodedBlock {
    BlockType type = BlockType::Stored;
    uint32_t sizeField = 0;  // bytes (stored) or bits (compressed), below 2^29
    Bytes body;              // sizeField bytes (stored) or ceil(sizeField / 8) (compressed)
};

// Largest chunk a block may be made from: what a reader accepts as one block's output.
constexpr size_t kMaxChunkSize = static_cast<size_t>(kMaxBlockOutput);
constexpr size_t kDefaultChunkSize = 1u << 20;

// The block encoder plug-in: `encode` turns `length` bytes (1 to chunkSize) into one
// block and returns false on failure. `context` is passed through unchanged.
struct BlockEncoder {
    bool (*encode)(void* context, const uint8_t* data, size_t length, EncodedBlock* block);
    void* context;
    size_t chunkSize;
};

// Stores every chunk as it is.
BlockEncoder StoredBlockEncoder(size_t chunkSize = kDefaultChunkSize);

// One chunk of an entry as it goes into the archive: the block's bytes as stored
// (header, body, padding, encryption), with the chunk's length and CRC-32. EncodeChunk
// makes it on any thread; ArchiveWriter::AppendBlock writes it into the open entry, so
// that blocks encoded side by side are written in their order.
struct FinishedBlock {
    Bytes bytes;
    size_t length = 0;   // of the chunk
    uint32_t crc32 = 0;  // of the chunk
};

// Encodes `length` bytes (1 to encoder.chunkSize) with `encoder` and frames the block,
// encrypted with `password` when there is one. False, with the reason in `error`, when
// the encoder fails or makes a block that does not describe itself.
bool EncodeChunk(const BlockEncoder& encoder, const uint8_t* data, size_t length,
                 const std::optional<std::string>& password, FinishedBlock* out,
                 std::string* error);

struct EntryOptions {
    std::string name;
    uint8_t timeKind = kTimeUtcSeconds;
    uint64_t time = 0;                    // as timeKind says (seconds or a FILETIME)
    uint16_t attributes = 0x0020;         // Win32 attribute bits
    std::optional<std::string> password;  // encrypts the block bodies; sets bit 0x0100
    BlockEncoder encoder = StoredBlockEncoder();
};

struct DirectoryOptions {
    std::optional<std::string> password;  // encrypts the names table
};

struct WriterOptions {
    // Entry names must pass the name rule (container/name_policy.h) in code page
    // `codePage`. A carrier must not contain the 8-byte signature, or readers would
    // find the archive there.
    unsigned codePage = 1252;
};

class ArchiveWriter {
public:
    explicit ArchiveWriter(const WriterOptions& options = {});
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Creates (or truncates) the output file.
    bool Create(const std::string& path);
    // Writes into `fd` instead, a descriptor of platform.h open for writing at the start
    // of an empty file (for programs whose paths are not in the ANSI code page); closed
    // by Finish or Abandon as a created file is.
    bool Attach(int fd);
    // Carrier bytes in front of the archive; only before BeginArchive.
    bool WriteCarrier(const void* data, size_t length);
    // Writes the header; the archive starts here.
    bool BeginArchive(uint32_t version = kVersionFormat2);

    bool BeginEntry(const EntryOptions& options);
    // Entry bytes, in any number of pieces.
    bool Write(const void* data, size_t length);
    // A block that EncodeChunk made of the entry's next chunk, with the entry's password
    // (not mixed with Write in one entry).
    bool AppendBlock(const FinishedBlock& block);
    bool EndEntry();
    // BeginEntry, Write, EndEntry.
    bool AddEntry(const EntryOptions& options, const void* data, size_t length);

    // Writes the directory header and names table, patches the entry count and
    // closes the file.
    bool Finish(const DirectoryOptions& options = {});

    // Gives the archive up: closes the output file as it stands (the caller removes it).
    void Abandon();

    // What went wrong, after a call returned false.
    const std::string& Error() const { return error_; }
    // Whether that was a call on the output file that failed (errno, or the thread's last
    // Windows error, tells why until another call fails).
    bool FailedOnFile() const { return failedOnFile_; }
    uint64_t ArchiveStart() const { return archiveStart_; }
    // File offset at which the next byte will be written.
    uint64_t Position() const { return position_; }

private:
    enum class State { Closed, Carrier, Archive, Entry, Finished, Failed };

    bool Fail(const std::string& message);
    bool FailOnFile(const std::string& message);
    bool Put(const void* data, size_t length);
    bool Flush();
    bool PatchAt(uint64_t offset, const Bytes& bytes);
    bool EmitChunk(const uint8_t* data, size_t length);
    bool PutBlock(const FinishedBlock& block);
    bool CheckCarrier(const uint8_t* data, size_t length);

    WriterOptions options_;
    State state_ = State::Closed;
    int file_ = -1;
    std::string error_;
    bool failedOnFile_ = false;
    uint64_t position_ = 0;
    uint64_t archiveStart_ = 0;
    Bytes outBuffer_;
    Bytes carrierTail_;
    std::vector<std::string> names_;

    // The entry being written.
    EntryOptions entry_;
    uint64_t recordPosition_ = 0;
    uint64_t compressedSize_ = 0;
    uint64_t uncompressedSize_ = 0;
    uint32_t crc_ = 0;       // of the entry's bytes so far
    bool appended_ = false;  // the entry's blocks came through AppendBlock
    Bytes chunk_;
};

}  // namespace vorx
