// Extraction of one entry, found by name (vorx_DecompressToFile, vorx_DecompressToPtr,
// declared in vorx.h) or by index (the tool, the self-extractor and the parallel
// decoder): the checks before the decode, in the order the two calls make them, then the
// block pipeline (library/decode_entry.h) into memory or through the output window. And
// the open of an archive that the caller opened itself: programs whose paths are not in
// the ANSI code page (the tool's UTF-8, the self-extractor's UTF-16) hand the library
// descriptors, never paths.
#pragma once

#include <cstddef>
#include <cstdint>

#include "library/decode_entry.h"
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

// The rules an entry is decoded under: vorx_DecompressToPtr's (Memory: the entry's own
// size is the room, more is corrupt data) or vorx_DecompressToFile's (File: each block
// in the output window, at most 64 MiB a block).
enum class Rules { Memory, File };

// vorx_OpenStream on a descriptor of platform.h open for reading (and writing, for mode
// bit 0): the same checks and codes. On success the handle owns the descriptor and
// vorx_CloseStream closes it; on failure it stays the caller's.
vorx_Error OpenStreamOnFile(vorx_Stream** handle, int file, const char* password, uint32_t mode);
// Whether the open archive is of the older format, whose entries cannot be read (every
// vorx_EnumerateFiles then gives 4, as it does for a name the table does not hold).
bool IsOlderFormat(const vorx_Stream* handle);

// Where a file extraction writes. `Open` is called once the entry has passed the checks
// (password, free space, working memory) and returns a descriptor open for writing, or -1.
// `FreeBytes` (may be null: then the request's output path tells) gives the room on the
// volume written to; false when it cannot be told.
struct FileOutput {
    void* context;
    int (*Open)(void* context);
    bool (*FreeBytes)(void* context, uint64_t* bytes) = nullptr;
};

// What the caller wants of an entry.
struct EntryRequest {
    Rules rules = Rules::Memory;
    // Memory: the caller's memory of the entry's size; or, when null, `owned` receives
    // memory of the library's (new[], freed with delete[]) that holds the bytes; or, with
    // `drop`, the bytes are decoded into memory of the library's and dropped.
    uint8_t* destination = nullptr;
    uint8_t** owned = nullptr;
    bool drop = false;
    // File: the volume written to must have room for the entry, as `output->FreeBytes`
    // tells or else the folder of `outputPath` (neither: not asked);
    // `output` opens the file the bytes are written to (null: the bytes are dropped), and
    // `descriptor` receives it (-1 when none was opened) for the caller to finish.
    const char* outputPath = nullptr;
    const FileOutput* output = nullptr;
    int* descriptor = nullptr;
    vorx_ProgressCallback progress = nullptr;  // called with the handle's user data
};

// A whole entry decoded on another thread under the request's rules, with the password
// of the request: the code, the bytes of its completed blocks (new[]) and the first and
// last progress percentages it reported (-1: none). What the decode here would give.
struct DecodedAhead {
    vorx_Error code;
    uint8_t* data;
    uint64_t produced;
    int firstPercent;
    int lastPercent;
};

// Extracts the located entry as vorx_DecompressToPtr (Memory) or vorx_DecompressToFile
// (File) do once they found it, with their codes: Memory 11 for 4 GiB or more, 10
// encrypted without a password, 2 no memory given, 11 no memory to be had; File 10, 6
// not enough free space, 11 no output window, 2 the output cannot be opened; then the
// decode's codes. The handle's cancel flag is cleared first. `ahead` (may be null)
// stands for the decode: when the request's `owned` receives its data, ahead->data is
// set to null; otherwise it stays the caller's. `supply` (may be null) hands the decode
// blocks prepared ahead.
vorx_Error ExtractEntryAt(vorx_Stream* handle, const EntryAt& entry, const char* password,
                          const EntryRequest& request, DecodedAhead* ahead,
                          const BlockSupply* supply);

// The same for entry `index`, located first (4 when its record cannot be read).
vorx_Error ExtractEntryByIndex(vorx_Stream* handle, uint64_t index, const char* password,
                               const EntryRequest& request);

// Gives a file extracted from an entry, open as `fd`, the entry's last-write time
// (`lastWriteSeconds`; 0: the time of writing) and the time of writing as its last access.
// False when the system refuses them.
bool StampOutput(int fd, int64_t lastWriteSeconds);

// The end of every decode into a file (vorx_DecompressToFile, the tool, the
// self-extractor) open as `fd`, once the decode gave `result`: on success the file's
// times (StampOutput; 13 when refused), then the close (15 when it fails, since the file
// may not hold what was written). Returns `result` or the first failure.
vorx_Error FinishOutput(int fd, int64_t lastWriteSeconds, vorx_Error result);

}  // namespace vorx
