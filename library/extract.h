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
    bool known;  // false when the platform cannot tell
    uint64_t bytes;
};
FreeSpace FreeSpaceForPath(const char* path);

// The output sink of a file extraction: appends the bytes to the handle's output file.
// Returns 0, or 15 when the write fails or writes fewer bytes than asked.
vorx_Error WriteToOutputFile(vorx_Stream* handle, const uint8_t* data, size_t length);

// Where a file extraction writes. `Open` is called once the entry has passed the checks
// of vorx_DecompressToFile (found, password, free space, working memory) and returns a
// descriptor open for writing, or -1.
struct FileOutput {
    void* context;
    int (*Open)(void* context);
};

// vorx_DecompressToFile up to the end of the decode, into the descriptor that `output`
// opens; the same codes, 2 when it opens none. The descriptor is left open for the
// caller to finish (times, close, rename) or discard: `*descriptor` is -1 when none was
// opened. `info` receives the entry's record.
vorx_Error DecompressToOutput(vorx_Stream* handle, const char* name, const char* outputPath,
                              vorx_ProgressCallback progress, const char* password,
                              const FileOutput& output, vorx_FileInfo* info, int* descriptor);

// The end of vorx_DecompressToFile once the decode gave `result`: closes `output` (15 when
// that fails, since the file may not hold what was written), then, on success, sets
// the file's times at `path` from the entry's record (13 when that fails).
vorx_Error FinishOutputFile(int output, const char* path, const vorx_FileInfo& info,
                            vorx_Error result);

}  // namespace vorx
