// The streaming archive writer.
#include "writer/archive_writer.h"

#include <algorithm>
#include <cstring>

#include "container/name_policy.h"
#include "platform/platform.h"

namespace vorx {
namespace {

constexpr size_t kOutputBufferSize = 64 * 1024;

bool EncodeStored(void*, const uint8_t* data, size_t length, EncodedBlock* block) {
    block->type = BlockType::Stored;
    block->sizeField = static_cast<uint32_t>(length);
    block->body.assign(data, data + length);
    return true;
}

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

}  // namespace

BlockEncoder StoredBlockEncoder(size_t chunkSize) {
    return BlockEncoder{&EncodeStored, nullptr, chunkSize};
}

bool EncodeChunk(const BlockEncoder& encoder, const uint8_t* data, size_t length,
                 const std::optional<std::string>& password, FinishedBlock* out,
                 std::string* error) {
    EncodedBlock block;
    if (length == 0 || length > encoder.chunkSize ||
        !encoder.encode(encoder.context, data, length, &block)) {
        *error = "the block encoder failed";
        return false;
    }
    const uint64_t expected =
        block.type == BlockType::Stored ? block.sizeField : (uint64_t{block.sizeField} + 7) / 8;
    if (block.sizeField > kMaxBlockSizeField || block.body.size() != expected) {
        *error = "the block encoder produced an inconsistent block";
        return false;
    }
    const uint32_t header = BlockHeaderValue(block.type, block.sizeField);
    out->bytes = EncodeBlock(header, block.body.data(), block.body.size(),
                             password ? password->c_str() : nullptr);
    out->length = length;
    out->crc32 = Crc32::Of(data, length);
    return true;
}

ArchiveWriter::ArchiveWriter(const WriterOptions& options) : options_(options) {}

ArchiveWriter::~ArchiveWriter() {
    if (file_ >= 0) platform::FileClose(file_);
}

void ArchiveWriter::Abandon() {
    if (file_ >= 0) platform::FileClose(file_);
    file_ = -1;
    outBuffer_.clear();
    state_ = State::Failed;
}

bool ArchiveWriter::Fail(const std::string& message) {
    if (state_ != State::Failed) error_ = message;
    state_ = State::Failed;
    return false;
}

bool ArchiveWriter::FailOnFile(const std::string& message) {
    if (state_ != State::Failed) failedOnFile_ = true;
    return Fail(message);
}

bool ArchiveWriter::Put(const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (outBuffer_.size() + length > kOutputBufferSize && !Flush()) return false;
    if (length >= kOutputBufferSize) {
        if (platform::FileWrite(file_, p, length) != static_cast<int64_t>(length))
            return FailOnFile("cannot write the output file");
    } else {
        outBuffer_.insert(outBuffer_.end(), p, p + length);
    }
    position_ += length;
    return true;
}

bool ArchiveWriter::Flush() {
    if (outBuffer_.empty()) return true;
    const int64_t n = platform::FileWrite(file_, outBuffer_.data(), outBuffer_.size());
    if (n != static_cast<int64_t>(outBuffer_.size()))
        return FailOnFile("cannot write the output file");
    outBuffer_.clear();
    return true;
}

bool ArchiveWriter::PatchAt(uint64_t offset, const Bytes& bytes) {
    if (!Flush()) return false;
    if (platform::FileSeek(file_, static_cast<int64_t>(offset), platform::Whence::Begin) < 0 ||
        platform::FileWrite(file_, bytes.data(), bytes.size()) !=
            static_cast<int64_t>(bytes.size()) ||
        platform::FileSeek(file_, static_cast<int64_t>(position_), platform::Whence::Begin) < 0)
        return FailOnFile("cannot patch the output file");
    return true;
}

bool ArchiveWriter::Create(const std::string& path) {
    if (state_ != State::Closed) return Fail("the writer is already in use");
    const int fd =
        platform::FileOpen(path.c_str(), platform::kOpenReadWrite | platform::kOpenCreate |
                                             platform::kOpenTruncate | platform::kOpenSequential);
    if (fd < 0) return FailOnFile("cannot create " + path);
    return Attach(fd);
}

bool ArchiveWriter::Attach(int fd) {
    if (state_ != State::Closed) return Fail("the writer is already in use");
    if (fd < 0) return FailOnFile("cannot write the output file");
    file_ = fd;
    state_ = State::Carrier;
    return true;
}

bool ArchiveWriter::CheckCarrier(const uint8_t* data, size_t length) {
    // Look across the seam with the previous piece: keep its last 7 bytes.
    Bytes window = carrierTail_;
    window.insert(window.end(), data, data + length);
    if (ContainsSignature(window.data(), window.size()))
        return Fail("the carrier contains an archive signature");
    const size_t keep = window.size() < kSignatureSize - 1 ? window.size() : kSignatureSize - 1;
    carrierTail_.assign(window.end() - static_cast<std::ptrdiff_t>(keep), window.end());
    return true;
}

bool ArchiveWriter::WriteCarrier(const void* data, size_t length) {
    if (state_ != State::Carrier) return Fail("the carrier goes before the archive");
    const uint8_t* p = static_cast<const uint8_t*>(data);
    return CheckCarrier(p, length) && Put(p, length);
}

bool ArchiveWriter::BeginArchive(uint32_t version) {
    if (state_ != State::Carrier) return Fail("the archive is already begun");
    archiveStart_ = position_;
    // The entry count is patched in Finish.
    if (!Put(EncodeArchiveHeader(version, 0).data(), kArchiveHeaderSize)) return false;
    state_ = State::Archive;
    return true;
}

bool ArchiveWriter::BeginEntry(const EntryOptions& options) {
    if (state_ != State::Archive) return Fail("an entry begins only between entries");
    const NameProblem problem =
        CheckEntryName(options.name.data(), options.name.size(), options_.codePage);
    if (problem != NameProblem::None)
        return Fail("invalid entry name '" + options.name + "': " + NameProblemText(problem));
    if (options.password && HasNul(*options.password))
        return Fail("a password cannot contain a NUL byte");
    if (!options.encoder.encode || options.encoder.chunkSize == 0 ||
        options.encoder.chunkSize > kMaxChunkSize)
        return Fail("invalid block encoder");

    entry_ = options;
    recordPosition_ = position_;
    compressedSize_ = 0;
    uncompressedSize_ = 0;
    crc_ = 0;
    appended_ = false;
    chunk_.clear();
    // Placeholder; the real record is patched in by EndEntry.
    if (!Put(EncodeEntryRecord(EntryRecord{}).data(), kEntryRecordSize)) return false;
    state_ = State::Entry;
    return true;
}

bool ArchiveWriter::EmitChunk(const uint8_t* data, size_t length) {
    FinishedBlock block;
    std::string error;
    if (!EncodeChunk(entry_.encoder, data, length, entry_.password, &block, &error))
        return Fail(error + " on '" + entry_.name + "'");
    return PutBlock(block);
}

bool ArchiveWriter::PutBlock(const FinishedBlock& block) {
    if (!Put(block.bytes.data(), block.bytes.size())) return false;
    compressedSize_ += block.bytes.size();
    uncompressedSize_ += block.length;
    crc_ = Crc32::Combine(crc_, block.crc32, block.length);
    return true;
}

bool ArchiveWriter::AppendBlock(const FinishedBlock& block) {
    if (state_ != State::Entry) return Fail("no entry is open");
    if (!chunk_.empty()) return Fail("an entry takes its bytes one way: Write or AppendBlock");
    if (block.length == 0 || block.length > kMaxChunkSize || block.bytes.size() < kBlockHeaderSize)
        return Fail("a finished block of '" + entry_.name + "' is inconsistent");
    appended_ = true;
    return PutBlock(block);
}

bool ArchiveWriter::Write(const void* data, size_t length) {
    if (state_ != State::Entry) return Fail("no entry is open");
    if (appended_ && length) return Fail("an entry takes its bytes one way: Write or AppendBlock");
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const size_t chunkSize = entry_.encoder.chunkSize;
    while (length > 0) {
        // Whole chunks straight from the caller's memory when nothing is pending.
        if (chunk_.empty() && length >= chunkSize) {
            if (!EmitChunk(p, chunkSize)) return false;
            p += chunkSize;
            length -= chunkSize;
            continue;
        }
        const size_t take = std::min(length, chunkSize - chunk_.size());
        chunk_.insert(chunk_.end(), p, p + take);
        p += take;
        length -= take;
        if (chunk_.size() == chunkSize) {
            if (!EmitChunk(chunk_.data(), chunk_.size())) return false;
            chunk_.clear();
        }
    }
    return true;
}

bool ArchiveWriter::EndEntry() {
    if (state_ != State::Entry) return Fail("no entry is open");
    if (!chunk_.empty()) {
        if (!EmitChunk(chunk_.data(), chunk_.size())) return false;
        chunk_.clear();
    }
    EntryRecord record{};
    record.timeKind = entry_.timeKind;
    record.attributes =
        static_cast<uint16_t>(entry_.attributes | (entry_.password ? kAttributeEncrypted : 0));
    record.compressedSize = compressedSize_;
    record.uncompressedSize = uncompressedSize_;
    record.time = entry_.time;
    record.crc32 = crc_;
    if (!PatchAt(recordPosition_, EncodeEntryRecord(record))) return false;
    names_.push_back(entry_.name);
    entry_ = EntryOptions{};
    chunk_.shrink_to_fit();
    state_ = State::Archive;
    return true;
}

bool ArchiveWriter::AddEntry(const EntryOptions& options, const void* data, size_t length) {
    return BeginEntry(options) && Write(data, length) && EndEntry();
}

bool ArchiveWriter::Finish(const DirectoryOptions& options) {
    if (state_ != State::Archive) return Fail("the archive is not ready to finish");
    if (options.password && HasNul(*options.password))
        return Fail("a password cannot contain a NUL byte");

    const Bytes names = JoinNames(names_);
    if (names.size() > UINT32_MAX) return Fail("the names table is too large");
    Bytes table = PadNamesTable(names);

    DirectoryHeader directory{};
    directory.namesEncrypted = options.password ? 1 : 0;
    directory.namesLength = static_cast<uint32_t>(names.size());
    directory.namesCrc = Crc32::Of(table.data(), table.size());
    if (options.password)
        EncryptWithPassword(options.password->c_str(), table.data(), table.size());

    if (!Put(EncodeDirectoryHeader(directory).data(), kDirectoryHeaderSize) ||
        !Put(table.data(), table.size()))
        return false;
    Bytes header = EncodeArchiveHeader(kVersionFormat2, names_.size());
    // Only the count is patched; the version written by BeginArchive stays.
    if (!PatchAt(archiveStart_ + 8, Bytes(header.begin() + 8, header.begin() + 16)) || !Flush())
        return false;
    if (platform::FileClose(file_) != 0) {
        file_ = -1;
        return FailOnFile("cannot close the output file");
    }
    file_ = -1;
    state_ = State::Finished;
    return true;
}

}  // namespace vorx
