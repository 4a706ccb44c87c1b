// Fuzz target: any byte string opened as an archive (through a temporary file), without
// a password and with one; every entry enumerated (in order, then from the end) and its
// name looked up again, and with the password decoded to memory (a heap block of exactly
// the declared size) and to a file, without the password and, when encrypted, with it.
// Besides crashes, out-of-bounds accesses, leaks and hangs it catches: codes outside the
// documented sets, names without their NUL, a look-up that misses a name enumeration just
// gave or finds one the names table does not hold, an entry index that answers otherwise
// than the walks over the records and names it stands in for, progress outside 0 to 100
// or a successful decode not ending on 100, and different bytes in memory and in a file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "container/archive_reader.h"
#include "container/blowfish.h"
#include "library/stream.h"
#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Check;
using fuzz::CheckCode;

constexpr uint64_t kMaxEntries = 256;
constexpr uint64_t kMaxDecodedEntries = 64;
// Entries may declare any size; larger ones are not decoded, to keep every input quick.
constexpr uint64_t kMaxDecoded = 16u << 20;

// The search by name reads the table in units and ignores a last unit shorter than 16
// bytes, which the walk by index still reads; only a table that ends on a 16-byte
// boundary promises that every name enumeration gives is found again.
bool TableEndsOnAUnit(vorx_Stream* h) {
    const int64_t length = platform::FileLength(h->file);
    const uint64_t start = h->directory.directoryOffset + vorx::kDirectoryHeaderSize;
    return length >= 0 && static_cast<uint64_t>(length) >= start &&
           (static_cast<uint64_t>(length) - start) % 16 == 0;
}

// Whether the names table, read plainly from its start to the end of the file and
// decrypted, holds `name` as a whole name: at the table's start or behind a NUL, with
// its own NUL. Anything a look-up finds must be there, padding included.
bool TableHoldsName(vorx_Stream* h, const char* name) {
    const int64_t length = platform::FileLength(h->file);
    const uint64_t start = h->directory.TableStart();
    if (length < 0 || static_cast<uint64_t>(length) <= start) return false;
    std::vector<uint8_t> table(static_cast<size_t>(static_cast<uint64_t>(length) - start));
    if (vorx::ReadAt(h->file, start, table.data(), table.size()) != table.size()) return false;
    vorx::BlowfishContext storage;
    if (const vorx::BlowfishContext* key = h->directory.NamesKey(&storage))
        vorx::BlowfishDecryptBlocks(key, table.data(), table.size());
    const size_t size = std::strlen(name) + 1;
    for (size_t at = 0; at + size <= table.size(); ++at) {
        if ((at == 0 || table[at - 1] == 0) && std::memcmp(&table[at], name, size) == 0)
            return true;
    }
    return false;
}

bool SameInfo(const vorx_FileInfo& a, const vorx_FileInfo& b) {
    return std::strcmp(a.name, b.name) == 0 && a.attributes == b.attributes && a.crc32 == b.crc32 &&
           a.compressedSize == b.compressedSize && a.uncompressedSize == b.uncompressedSize &&
           a.lastWriteSeconds == b.lastWriteSeconds;
}

// The answers of `walker`, a handle of the same archive whose index is disabled, are
// those of `h` for every index and name asked.
void CompareWithWalks(vorx_Stream* h, vorx_Stream* walker, uint64_t index, const char* name) {
    vorx_FileInfo a{}, b{};
    const vorx_Error byIndex = vorx_EnumerateFiles(h, &a, index);
    Check(vorx_EnumerateFiles(walker, &b, index) == byIndex &&
              (byIndex != vorx_Success || SameInfo(a, b)),
          "the entry index enumerates as the walks do");
    const vorx_Error byName = vorx_GetFileInfo(h, &a, name);
    Check(
        vorx_GetFileInfo(walker, &b, name) == byName && (byName != vorx_Success || SameInfo(a, b)),
        "the entry index looks names up as the walks do");
}

void Explore(vorx_Stream* h, vorx_Stream* walker) {
    const bool wholeUnits = TableEndsOnAUnit(h);
    const uint64_t count = vorx_GetNumFiles(h);
    const uint64_t limit = count < kMaxEntries ? count : kMaxEntries;
    for (uint64_t i = 0; i < limit; ++i) {
        vorx_FileInfo info;
        const vorx_Error e = vorx_EnumerateFiles(h, &info, i);
        CheckCode(e, {vorx_Success, vorx_NotFound, vorx_ReadFailed}, "enumeration code");
        CompareWithWalks(h, walker, i, e == vorx_Success ? info.name : "");
        if (e != vorx_Success) continue;
        Check(std::memchr(info.name, 0, sizeof info.name) != nullptr,
              "enumerated name has its NUL");
        if (info.name[0] == '\0') continue;  // an empty name is refused by the look-up
        vorx_FileInfo found;
        const vorx_Error f = vorx_GetFileInfo(h, &found, info.name);
        // The record walk may still fail (13) when the name sits in the table's padding.
        Check(f == vorx_Success || f == vorx_ReadFailed || (f == vorx_NotFound && !wholeUnits),
              "a name just enumerated is found");
        if (f == vorx_Success)
            Check(std::strcmp(found.name, info.name) == 0, "look-up copies the name");
        Check(vorx_GetFileInfo(h, nullptr, info.name) == f, "look-up without info agrees");
    }
    if (limit > 0) {
        vorx_FileInfo info;
        const vorx_Error last = vorx_EnumerateFiles(h, &info, limit - 1);
        const vorx_Error first = vorx_EnumerateFiles(h, &info, 0);
        Check(last != vorx_InvalidArgument && first != vorx_InvalidArgument, "indices in range");
    }
    vorx_FileInfo info;
    Check(vorx_EnumerateFiles(h, &info, count) == vorx_InvalidArgument, "index out of range");
    // A name no writer makes; the input may still hold it (the fuzzer learns it).
    const char* probe = "no such entry \x01";
    const vorx_Error missing = vorx_GetFileInfo(h, &info, probe);
    CheckCode(missing, {vorx_Success, vorx_NotFound, vorx_ReadFailed, vorx_Unknown},
              "look-up code");
    if (missing == vorx_Success) {
        Check(TableHoldsName(h, probe), "a name found is in the names table");
        Check(std::strcmp(info.name, probe) == 0, "look-up copies the name");
    }
    const std::string tooLong(300, 'a');
    Check(vorx_GetFileInfo(h, &info, tooLong.c_str()) == vorx_InvalidArgument, "overlong name");
}

struct Progress {
    int last = -1;
    bool inRange = true;
};

void VORX_CALL OnProgress(void* user, int percent) {
    auto* p = static_cast<Progress*>(user);
    p->last = percent;
    p->inRange = p->inRange && percent >= 0 && percent <= 100;
}

void DecodeEntry(vorx_Stream* h, const vorx_FileInfo& enumerated, const char* password,
                 const std::string& output) {
    // A name shared by several entries finds the first of them: the memory must hold
    // the declared size of the entry found.
    vorx_FileInfo info;
    if (vorx_GetFileInfo(h, &info, enumerated.name) != vorx_Success) return;
    if (info.uncompressedSize > kMaxDecoded) return;
    Progress progress;
    vorx_SetUserData(h, &progress);
    std::vector<uint8_t> memory(static_cast<size_t>(info.uncompressedSize));
    const vorx_Error toMemory =
        vorx_DecompressToPtr(h, info.name, memory.data(), &OnProgress, password);
    CheckCode(toMemory,
              {vorx_Success, vorx_CorruptArchive, vorx_NotFound, vorx_CrcMismatch,
               vorx_PasswordRequired, vorx_OutOfMemory},
              "code of the decode to memory");
    Check(progress.inRange, "progress within 0 to 100");
    if (toMemory == vorx_Success) Check(progress.last == 100, "a decode ends on 100");

    progress = Progress();
    const vorx_Error toFile =
        vorx_DecompressToFile(h, info.name, output.c_str(), &OnProgress, password);
    CheckCode(toFile,
              {vorx_Success, vorx_Unknown, vorx_InvalidArgument, vorx_CorruptArchive, vorx_NotFound,
               vorx_OutOfDiskSpace, vorx_CrcMismatch, vorx_PasswordRequired, vorx_OutOfMemory,
               vorx_ReadFailed, vorx_WriteFailed},
              "code of the decode to a file");
    Check(progress.inRange, "progress within 0 to 100");
    // The two calls run the same decode; a file may still fail to take the entry's
    // time (13), which a fuzzed record can put out of the system's range.
    if (toMemory == vorx_Success)
        Check(toFile == vorx_Success || toFile == vorx_ReadFailed, "file agrees with memory");
    if (toMemory == vorx_Success && toFile == vorx_Success) {
        std::FILE* in = std::fopen(output.c_str(), "rb");
        Check(in != nullptr, "the output file exists");
        std::vector<uint8_t> written(memory.size() + 1);
        const size_t n = std::fread(written.data(), 1, written.size(), in);
        std::fclose(in);
        // Fewer bytes than declared may come out; the rest of the memory is untouched.
        Check(n <= memory.size() && (n == 0 || std::memcmp(written.data(), memory.data(), n) == 0),
              "same bytes in the file");
    }
}

void DecodeAll(vorx_Stream* h, const std::string& output) {
    const uint64_t count = vorx_GetNumFiles(h);
    for (uint64_t i = 0; i < count && i < kMaxDecodedEntries; ++i) {
        vorx_FileInfo info;
        if (vorx_EnumerateFiles(h, &info, i) != vorx_Success || info.name[0] == '\0') continue;
        DecodeEntry(h, info, nullptr, output);
        if (info.attributes & VORX_ATTRIBUTE_ENCRYPTED)
            DecodeEntry(h, info, fuzz::kPassword, output);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::TempPath(".vorx"), output = fuzz::TempPath(".out");
    const fuzz::RemoveAfterUse removal{path}, removeOutput{output};
    if (!fuzz::WriteInput(path, data, size)) return 0;

    for (const char* password : {static_cast<const char*>(nullptr), fuzz::kPassword}) {
        vorx_Stream* h = nullptr;
        const vorx_Error e = vorx_OpenStream(&h, path.c_str(), password, 2);
        if (e != vorx_Success) {
            Check(h == nullptr, "a failed open gives a null handle");
            CheckCode(e,
                      {vorx_NotFound, vorx_ReadFailed, vorx_CorruptArchive, vorx_CrcMismatch,
                       vorx_PasswordRequired},
                      "open code");
            continue;
        }
        vorx_Stream* walker = nullptr;
        Check(vorx_OpenStream(&walker, path.c_str(), password, 2) == vorx_Success, "open again");
        walker->index.Disable();
        Explore(h, walker);
        if (password) DecodeAll(h, output);
        Check(vorx_CloseStream(walker) == vorx_Success && vorx_CloseStream(h) == vorx_Success,
              "close");
    }
    return 0;
}
