// The directory reader: DirectoryHeader, password verification and the two name
// look-ups over the names table.
//
// Names table: the names in entry order, each with its NUL, padded to a multiple of
// 16 bytes; it ends at the end of the file. The look-ups read it in fixed units
// counted from its first byte: 16 bytes for NameAt, 512 for Find, 128 for the
// password check. Encryption is electronic-codebook over 8-byte blocks, so any unit
// decrypts by itself.
#include "container/archive_directory.h"

#include <cstring>

#include "container/archive_reader.h"
#include "container/blowfish.h"
#include "platform/platform.h"

namespace vorx {
namespace {

constexpr size_t kVerifyUnit = 128;

}  // namespace

uint64_t ArchiveDirectory::TableStart() const {
    return AddSaturating(directoryOffset, kDirectoryHeaderSize);
}

const BlowfishContext* ArchiveDirectory::NamesKey(BlowfishContext* storage) const {
    if (header.namesEncrypted == 0) return nullptr;
    BlowfishSetPassword(storage, password);
    return storage;
}

void ArchiveDirectory::Clear() {
    // A volatile walk so that the wipe is not optimised away.
    volatile char* p = password;
    for (size_t i = 0; i < sizeof password; ++i) p[i] = 0;
    hasPassword = false;
}

Result ArchiveDirectory::Open(int archiveFile, const char* givenPassword, uint64_t offset) {
    file = archiveFile;
    directoryOffset = offset;
    if (givenPassword) {
        // Only the first 72 bytes enter the key, so cutting a longer password keeps it.
        size_t length = 0;
        while (length < kMaxPasswordBytesKept && givenPassword[length] != '\0') ++length;
        std::memcpy(password, givenPassword, length);
        password[length] = '\0';
        hasPassword = true;
    }

    uint8_t raw[kDirectoryHeaderSize];
    if (ReadAt(file, directoryOffset, raw, sizeof raw) != sizeof raw) return kCorruptArchive;
    header = DirectoryHeader::Parse(raw);

    // A plain table is read as it is: neither its length nor its CRC is checked.
    if (header.namesEncrypted == 0) return kSuccess;
    if (!hasPassword) return kPasswordRequired;
    return VerifyPassword();
}

// The archive stores no password; a password is right when the names table it
// decrypts has the stored CRC-32.
Result ArchiveDirectory::VerifyPassword() {
    BlowfishContext key;
    BlowfishSetPassword(&key, password);
    crc.Reset();

    const int64_t fileLength = platform::FileLength(file);
    const uint64_t padded = PadTo16(header.namesLength);
    const uint64_t start = TableStart();
    if (fileLength < 0 || static_cast<uint64_t>(fileLength) < start ||
        static_cast<uint64_t>(fileLength) - start != padded)
        return kCorruptArchive;

    UnitReader reader(file, start, &key, padded);
    const uint8_t* unit;
    while (size_t n = reader.Next(kVerifyUnit, &unit)) crc.Update(unit, n);
    return crc.Final() == header.namesCrc ? kSuccess : kCrcMismatch;
}

Result ArchiveDirectory::NameAt(uint64_t index, char (&destination)[kNameBufferSize]) {
    BlowfishContext key;
    UnitReader reader(file, TableStart(), NamesKey(&key));

    // Find where the name starts: behind the index-th NUL, or at the table's first
    // byte for index 0. An empty first name therefore cannot be returned: its NUL
    // raises the count to 1 before the comparison.
    uint8_t collected[kNameBufferSize + kNameUnit];
    size_t have = 0;
    uint64_t nulCount = 0;
    bool started = false;
    while (!started) {
        const uint8_t* unit;
        const size_t n = reader.Next(kNameUnit, &unit);
        if (n == 0) return kNotFound;
        for (size_t i = 0; i < n; ++i) {
            if (unit[i] == 0) ++nulCount;
            if (nulCount == index) {
                const size_t start = unit[i] == 0 ? i + 1 : i;
                have = n - start;
                std::memcpy(collected, unit + start, have);
                started = true;
                break;
            }
        }
    }

    // Collect whole units until one holds the NUL. The bytes from the name's start to
    // the end of the unit holding its NUL must number fewer than kNameBufferSize.
    for (;;) {
        if (const void* nul = std::memchr(collected, 0, have)) {
            const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - collected);
            std::memcpy(destination, collected, length + 1);
            return kSuccess;
        }
        const uint8_t* unit;
        const size_t n = reader.Next(kNameUnit, &unit);
        if (n == 0) return kNotFound;
        // invariant: have < kNameBufferSize here, so the append stays inside `collected`.
        std::memcpy(collected + have, unit, n);
        have += n;
        if (have >= kNameBufferSize) return kNotFound;
    }
}

// The stored names are compared with `name` as they stream past, byte by byte with the
// NUL included, so a name that runs across units needs no assembly buffer and a stored
// name of any length is handled within bounds (one longer than the name looked up never
// matches).
bool ArchiveDirectory::Find(const char* name, uint64_t* index) {
    BlowfishContext key;
    UnitReader reader(file, TableStart(), NamesKey(&key));

    uint64_t current = 0;
    size_t matched = 0;  // bytes of the current stored name equal to name[0..matched)
    bool differs = false;
    for (;;) {
        const uint8_t* unit;
        const size_t n = reader.Next(kFindUnit, &unit);
        if (n < kNameUnit) return false;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t byte = unit[i];
            if (!differs) {
                // invariant: matched <= strlen(name): a match of name's NUL ends the search.
                if (static_cast<uint8_t>(name[matched]) == byte)
                    ++matched;
                else
                    differs = true;
            }
            if (byte == 0) {
                if (!differs) {
                    *index = current;
                    return true;
                }
                ++current;
                matched = 0;
                differs = false;
            }
        }
    }
}

}  // namespace vorx
