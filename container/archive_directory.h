// The directory reader inside each archive handle: the DirectoryHeader, the
// password of the names table, and the two look-ups of names by index and by name.
// The names table is not kept in memory; every look-up reads it from the file.
#pragma once

#include <cstdint>

#include "container/crc32.h"
#include "container/format.h"
#include "library/vorx.h"

namespace vorx {

class ArchiveDirectory {
public:
    // Reads the DirectoryHeader at `directoryOffset` and, for an encrypted names
    // table, verifies the password. Returns 0, 3, 9 or 10.
    vorx_Error Open(int file, const char* password, uint64_t directoryOffset);

    // Copies the name of entry `index` into `destination`. Returns 0 or 4.
    vorx_Error NameAt(uint64_t index, char (&destination)[256]);

    // Finds the first name equal to `name`, byte for byte. Returns true and the index.
    bool Find(const char* name, uint64_t* index);

    DirectoryHeader header{};
    uint64_t directoryOffset = 0;
    char password[256] = {};
    int file = -1;
    Crc32 crc;
};

}  // namespace vorx
