// The directory reader inside each archive handle: the DirectoryHeader, the
// password of the names table, and the two look-ups of names by index and by name.
// The names table is not kept in memory; every look-up reads it from the file and,
// when it is encrypted, decrypts it with a key derived afresh from the password.
#pragma once

#include <cstdint>

#include "container/blowfish.h"
#include "container/crc32.h"
#include "container/format.h"
#include "container/result.h"

namespace vorx {

// The units in which the walks read the names table, counted from its first byte: 16
// bytes for NameAt, 512 for Find. Any unit decrypts by itself (electronic codebook
// over 8-byte blocks).
constexpr size_t kNameUnit = 16;
constexpr size_t kFindUnit = 512;

class ArchiveDirectory {
public:
    // Reads the DirectoryHeader at `directoryOffset` and, for an encrypted names
    // table, verifies the password (null: none given). Returns 0; 3 when the
    // DirectoryHeader is cut short or an encrypted table's stored length is not its
    // padded length; 10 encrypted and no password; 9 wrong password.
    Result Open(int file, const char* password, uint64_t directoryOffset);

    // Copies the name of entry `index` (up to and including its NUL) into
    // `destination`. Returns 0, or 4 when the table ends before the name is complete
    // or when the bytes from the name's start to the end of the unit holding its NUL
    // number kNameBufferSize or more.
    Result NameAt(uint64_t index, char (&destination)[kNameBufferSize]);

    // Finds the first name equal to `name`, byte for byte. The search runs to the end
    // of the file, so names stored in the table's padding count too.
    bool Find(const char* name, uint64_t* index);

    // Forgets the password.
    void Clear();

    // Where the names table starts: right behind the DirectoryHeader.
    uint64_t TableStart() const;

    // The key that decrypts the names table, set up in `storage`; null when the
    // table is stored plain.
    const BlowfishContext* NamesKey(BlowfishContext* storage) const;

    DirectoryHeader header{};
    uint64_t directoryOffset = 0;
    char password[kMaxPasswordBytesKept + 1] = {};
    bool hasPassword = false;
    int file = -1;
    Crc32 crc;

private:
    Result VerifyPassword();
};

}  // namespace vorx
