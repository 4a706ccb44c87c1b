#include "tests/support/damaging_writer.h"

#include <fstream>
#include <iterator>

#include "container/crc32.h"
#include "writer/archive_parts.h"

namespace vorx::test {

bool DamagingWriter::Fail(const std::string& message) {
    error_ = message;
    return false;
}

bool DamagingWriter::Create(const std::string& path) {
    path_ = path;
    return writer_.Create(path);
}

// Kept aside and put in front when the archive is finished: the writer refuses a
// carrier that holds the signature.
bool DamagingWriter::WriteCarrier(const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    carrier_.insert(carrier_.end(), p, p + length);
    return true;
}

bool DamagingWriter::BeginArchive() { return writer_.BeginArchive(); }

// The writer gets a name it accepts; the table with the real names replaces its own.
bool DamagingWriter::BeginEntry(const EntryOptions& options) {
    Entry entry;
    entry.name = options.name;
    entry.record = writer_.Position();
    EntryOptions sound = options;
    sound.name = "e" + std::to_string(entries_.size());
    entries_.push_back(std::move(entry));
    return writer_.BeginEntry(sound);
}

bool DamagingWriter::Write(const void* data, size_t length) {
    if (!entries_.empty() && !entries_.back().raw.empty())
        return Fail("entry bytes after raw bytes");
    return writer_.Write(data, length);
}

bool DamagingWriter::WriteRaw(const void* data, size_t length) {
    if (entries_.empty()) return Fail("no entry is open");
    const auto* p = static_cast<const uint8_t*>(data);
    entries_.back().raw.insert(entries_.back().raw.end(), p, p + length);
    return true;
}

bool DamagingWriter::EndEntry(const RecordOverrides& overrides) {
    if (!writer_.EndEntry()) return false;
    entries_.back().dataEnd = writer_.Position();
    entries_.back().overrides = overrides;
    return true;
}

// Rewrites the writer's file: the carrier, the header, each entry with its record
// patched and its raw bytes behind its data, then the directory as asked.
bool DamagingWriter::Finish(const DamagedDirectory& directory) {
    DirectoryOptions sound;
    sound.password = directory.password;
    if (!writer_.Finish(sound)) return false;
    Bytes file;
    {
        std::ifstream in(path_, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) return Fail("cannot read " + path_);
    }
    Bytes out = carrier_;
    const size_t archiveStart = out.size();
    out.insert(out.end(), file.begin(), file.begin() + kArchiveHeaderSize);
    std::vector<std::string> names;
    for (const Entry& e : entries_) {
        uint8_t raw[kEntryRecordSize];
        std::copy(file.begin() + static_cast<std::ptrdiff_t>(e.record),
                  file.begin() + static_cast<std::ptrdiff_t>(e.record + kEntryRecordSize), raw);
        EntryRecord record = EntryRecord::Parse(raw);
        record.compressedSize += e.raw.size();
        if (e.overrides.uncompressedSize) record.uncompressedSize = *e.overrides.uncompressedSize;
        if (e.overrides.crc32) record.crc32 = *e.overrides.crc32;
        const Bytes patched = EncodeEntryRecord(record);
        out.insert(out.end(), patched.begin(), patched.end());
        out.insert(out.end(),
                   file.begin() + static_cast<std::ptrdiff_t>(e.record + kEntryRecordSize),
                   file.begin() + static_cast<std::ptrdiff_t>(e.dataEnd));
        out.insert(out.end(), e.raw.begin(), e.raw.end());
        names.push_back(e.name);
    }

    const Bytes joined = JoinNames(names);
    Bytes table = PadNamesTable(joined, directory.padding);
    DirectoryHeader header{};
    header.namesEncrypted = directory.password ? 1 : 0;
    header.namesLength = static_cast<uint32_t>(joined.size());
    header.namesCrc = Crc32::Of(table.data(), table.size());
    if (directory.password)
        EncryptWithPassword(directory.password->c_str(), table.data(), table.size());
    if (directory.namesLength) header.namesLength = *directory.namesLength;
    if (directory.namesCrc) header.namesCrc = *directory.namesCrc;
    const Bytes encoded = EncodeDirectoryHeader(header);
    out.insert(out.end(), encoded.begin(), encoded.end());
    out.insert(out.end(), table.begin(), table.end());
    const uint64_t count = directory.entryCount ? *directory.entryCount : entries_.size();
    WriteLe64(out.data() + archiveStart + 8, count);

    std::ofstream o(path_, std::ios::binary | std::ios::trunc);
    o.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    o.close();
    return o.good() ? true : Fail("cannot write " + path_);
}

bool WriteTestArchive(const std::string& path, const TestArchive& archive, std::string* error) {
    DamagingWriter w;
    bool ok = w.Create(path) && w.WriteCarrier(archive.carrier.data(), archive.carrier.size()) &&
              w.BeginArchive();
    for (size_t i = 0; ok && i < archive.entries.size(); ++i) {
        const TestEntry& e = archive.entries[i];
        const EntryOptions options{e.name,     e.timeKind,
                                   e.time,     0x20,
                                   e.password, e.encoder ? *e.encoder : StoredBlockEncoder()};
        RecordOverrides overrides = e.overrides;
        if (!e.raw.empty() && !overrides.uncompressedSize)
            overrides.uncompressedSize = e.data.size();
        if (!e.raw.empty() && !overrides.crc32)
            overrides.crc32 = Crc32::Of(e.data.data(), e.data.size());
        ok = w.BeginEntry(options) &&
             (e.raw.empty() ? w.Write(e.data.data(), e.data.size())
                            : w.WriteRaw(e.raw.data(), e.raw.size())) &&
             w.EndEntry(overrides);
    }
    ok = ok && w.Finish(archive.directory);
    if (!ok && error) *error = w.Error();
    return ok;
}

}  // namespace vorx::test
