// The archive handle behind the opaque vorx_Stream of the public header, and the
// library's internal operations shared by enumeration and the decoder.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "container/archive_directory.h"
#include "container/entry_index.h"
#include "container/format.h"
#include "container/result.h"
#include "library/vorx.h"

// The container and the codec report with the values of the public result codes.
static_assert(vorx::kSuccess == vorx_Success && vorx::kCorruptArchive == vorx_CorruptArchive &&
              vorx::kNotFound == vorx_NotFound && vorx::kCrcMismatch == vorx_CrcMismatch &&
              vorx::kPasswordRequired == vorx_PasswordRequired &&
              vorx::kOutOfMemory == vorx_OutOfMemory && vorx::kReadFailed == vorx_ReadFailed);

// The file-information record crosses the library's interface: its layout is fixed.
static_assert(offsetof(vorx_FileInfo, attributes) == 0);
static_assert(offsetof(vorx_FileInfo, crc32) == 4);
static_assert(offsetof(vorx_FileInfo, compressedSize) == 8);
static_assert(offsetof(vorx_FileInfo, uncompressedSize) == 16);
static_assert(offsetof(vorx_FileInfo, lastWriteTime) == 24);
static_assert(offsetof(vorx_FileInfo, name) == 32);
static_assert(offsetof(vorx_FileInfo, lastWriteSeconds) == 288);
static_assert(sizeof(vorx_FileInfo) == 296);

namespace vorx {
struct DecoderState;  // what the decoder keeps between entries (codec/decoder_state.h)
class OutputWindow;   // the output window of file extractions (library/output_window.h)
}  // namespace vorx

struct vorx_Stream {
    char path[256];
    int file;                    // descriptor of the archive file
    uint32_t mode;               // mode bits passed to the open
    vorx::ArchiveHeader header;  // as read at archiveStart
    uint64_t archiveStart;       // file offset of the signature
    uint64_t
        cursorPosition;    // enumeration cursor: offset of the record after the last one returned
    uint64_t cursorIndex;  // index of that record; all ones after the open
    vorx::ArchiveDirectory directory;
    vorx::EntryIndex index;  // record positions and names, so that look-ups need no walk
    std::atomic<uint32_t> cancelRequested;  // set by vorx_CancelOperation from any thread
    void* userData;
    const char* password;  // password of the decompression in progress
    vorx_ProgressCallback progress;
    int outputFile;                    // descriptor written by vorx_DecompressToFile
    vorx::DecoderState* decoder;       // made at the first decode, reused after
    vorx::OutputWindow* outputWindow;  // made at the first file extraction, reused after
};

namespace vorx {

// An entry found by its index: where its 40-byte record lies and what it holds.
struct EntryAt {
    uint64_t index;
    uint64_t recordPosition;
    vorx_FileInfo info;  // the record; the name is left empty
};

// Reads the record of entry `index`: from the record positions the open collected, else
// by the walk from the first record. Neither the cursor nor the names are touched.
// 0; 2 index out of range (or a null handle); 4 older or unknown format; 13 the record
// cannot be read.
vorx_Error LocateEntryAt(vorx_Stream* handle, uint64_t index, EntryAt* entry);

// The name of entry `index`, as vorx_EnumerateFiles gives it: 0, or 4.
vorx_Error NameOfEntry(vorx_Stream* handle, uint64_t index, char (&destination)[256]);

// Look-up of an entry by name: fills `info` (may be null) and the file offset of its
// 40-byte record (may be null). Returns 0, 1, 4 or 13.
vorx_Error LocateEntry(vorx_Stream* handle, vorx_FileInfo* info, uint64_t* recordPosition,
                       const char* name);

// Copies a record into `info`: everything but the name.
void RecordToFileInfo(const EntryRecord& record, vorx_FileInfo* info);

// Seconds since 1970 UTC to a FILETIME through the local-time round trip.
void SecondsToFileTime(int64_t seconds, vorx_FileTime* fileTime);

// Releases the output window kept by file extractions (null allowed).
void ReleaseOutputWindow(OutputWindow* window);

}  // namespace vorx
