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
    EntryOptions sound = options;
    sound.name = "e" + std::to_string(entries_.size());
    entries_.emplace_back().name = options.name;
    entries_.back().record = writer_.Position();
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

// Rewrites the writer's file: its directory goes, each entry gets its record patched
// and its raw bytes behind its data (from the last entry back, so that the offsets of
// the ones before stay true), then the directory as asked, and the carrier in front.
bool DamagingWriter::Finish(const DamagedDirectory& directory) {
    const uint64_t entriesEnd = writer_.Position();
    DirectoryOptions sound;
    sound.password = directory.password;
    if (!writer_.Finish(sound)) return false;
    std::ifstream in(path_, std::ios::binary);
    Bytes out(std::istreambuf_iterator<char>(in), {});
    if (!in.good() && !in.eof()) return Fail("cannot read " + path_);
    in.close();
    out.resize(entriesEnd);
    std::vector<std::string> names(entries_.size());
    for (size_t i = entries_.size(); i-- > 0;) {
        const Entry& e = entries_[i];
        uint8_t* at = out.data() + e.record;
        uint8_t raw[kEntryRecordSize];
        std::copy(at, at + kEntryRecordSize, raw);
        EntryRecord record = EntryRecord::Parse(raw);
        record.compressedSize += e.raw.size();
        if (e.overrides.uncompressedSize) record.uncompressedSize = *e.overrides.uncompressedSize;
        if (e.overrides.crc32) record.crc32 = *e.overrides.crc32;
        const Bytes patched = EncodeEntryRecord(record);
        std::copy(patched.begin(), patched.end(), at);
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(e.dataEnd), e.raw.begin(),
                   e.raw.end());
        names[i] = e.name;
    }

    const Bytes joined = JoinNames(names);
    Bytes table = PadNamesTable(joined, directory.padding);
    DirectoryHeader header{};
    header.namesEncrypted = directory.password ? 1 : 0;
    header.namesLength = directory.namesLength.value_or(static_cast<uint32_t>(joined.size()));
    header.namesCrc = directory.namesCrc.value_or(Crc32::Of(table.data(), table.size()));
    if (directory.password)
        EncryptWithPassword(directory.password->c_str(), table.data(), table.size());
    const Bytes encoded = EncodeDirectoryHeader(header);
    out.insert(out.end(), encoded.begin(), encoded.end());
    out.insert(out.end(), table.begin(), table.end());
    WriteLe64(out.data() + 8, directory.entryCount.value_or(entries_.size()));
    out.insert(out.begin(), carrier_.begin(), carrier_.end());

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
        const EntryOptions options{e.name, e.timeKind, e.time,
                                   0x20,   e.password, e.encoder.value_or(StoredBlockEncoder())};
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
