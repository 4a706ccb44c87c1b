// Internal pieces of the two extraction calls (vorx_DecompressToFile and
// vorx_DecompressToPtr are declared in vorx.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "library/vorx.h"

namespace vorx {

// Free bytes available to the caller on the volume that holds the output path's folder
// (the text up to its last separator, '\' or '/' on Windows, '/' elsewhere; the
// current folder when there is none).
struct FreeSpace {
    bool known;      // false when the platform cannot tell
    uint64_t bytes;
};
FreeSpace FreeSpaceForPath(const char* path);

// The output sink of a file extraction: appends the bytes to the handle's output file.
// Returns 0, or 15 when the write fails or writes fewer bytes than asked.
vorx_Error WriteToOutputFile(vorx_Stream* handle, const uint8_t* data, size_t length);

}  // namespace vorx
