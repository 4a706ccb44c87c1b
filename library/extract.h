// Internal pieces of the two extraction calls (vorx_DecompressToFile and
// vorx_DecompressToPtr are declared in vorx.h), and the open of an archive that the
// caller opened itself: programs whose paths are not in the ANSI code page (the tool's
// UTF-8, the self-extractor's UTF-16) hand the library descriptors, never paths.
#pragma once

#include <cstddef>
#include <cstdint>

#include "library/vorx.h"

namespace vorx {

// Free bytes available to the caller on the volume that holds the output path's folder
// (the text up to its last separator, '\' or '/' on Windows, '/' elsewhere; the
// current folder when there is none).
struct FreeSpace {
    bool known;  // false when the platform cannot tell
    uint64_t bytes;
};
FreeSpace FreeSpaceForPath(const char* path);

// The output sink of a file extraction: appends the bytes to the handle's output file.
// Returns 0, or 15 when the write fails or writes fewer bytes than asked.
vorx_Error WriteToOutputFile(vorx_Stream* handle, const uint8_t* data, size_t length);

// vorx_OpenStream on a descriptor of platform.h open for reading (and writing, for mode
// bit 0): the same checks and codes. On success the handle owns the descriptor and
// vorx_CloseStream closes it; on failure it stays the caller's.
vorx_Error OpenStreamOnFile(vorx_Stream** handle, int file, const char* password, uint32_t mode);
// Whether the open archive is of the older format, whose entries cannot be read (every
// vorx_EnumerateFiles then gives 4, as it does for a name the table does not hold).
bool IsOlderFormat(const vorx_Stream* handle);

// Where a file extraction writes. `Open` is called once the entry has passed the checks
// of vorx_DecompressToFile (found, password, free space, working memory) and returns a
// descriptor open for writing, or -1. `FreeBytes` (may be null: then the output path
// tells) gives the room on the volume written to; false when it cannot be told.
struct FileOutput {
    void* context;
    int (*Open)(void* context);
    bool (*FreeBytes)(void* context, uint64_t* bytes) = nullptr;
};

// vorx_DecompressToFile up to the end of the decode, into the descriptor that `output`
// opens; the same codes, 2 when it opens none. The descriptor is left open for the
// caller to finish (times, close, rename) or discard: `*descriptor` is -1 when none was
// opened. `info` receives the entry's record. `outputPath` serves the free-space check
// alone, and may be null when `output` has FreeBytes.
vorx_Error DecompressToOutput(vorx_Stream* handle, const char* name, const char* outputPath,
                              vorx_ProgressCallback progress, const char* password,
                              const FileOutput& output, vorx_FileInfo* info, int* descriptor);

// The end of vorx_DecompressToFile once the decode gave `result`: closes `output` (15 when
// that fails, since the file may not hold what was written), then, on success, sets
// the file's times at `path` from the entry's record (13 when that fails).
vorx_Error FinishOutputFile(int output, const char* path, const vorx_FileInfo& info,
                            vorx_Error result);

}  // namespace vorx
