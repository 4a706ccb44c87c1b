// The archive handle: open, close and the small accessors.
//
// Opening: check the arguments, allocate the handle, open the file, find the
// signature, read the header, walk the entry records to the directory and open the
// directory (which verifies the password of an encrypted names table). A failed open
// closes the file and frees the handle; the caller gets a null handle and the code.
#include <atomic>
#include <cstring>
#include <new>

#include "codec/decoder_state.h"
#include "container/archive_reader.h"
#include "library/extract.h"
#include "library/stream.h"
#include "platform/platform.h"

namespace vorx {
namespace {

constexpr size_t kMaxPathLength = 255;

void DestroyHandle(vorx_Stream* handle) {
    handle->directory.Clear();
    delete handle;
}

vorx_Error OpenArchive(vorx_Stream* handle, const char* password) {
    const int64_t fileLength = platform::FileLength(handle->file);
    if (fileLength < 0) return vorx_ReadFailed;

    uint64_t start = 0;
    if (vorx_Error e = FindArchiveStart(handle->file, static_cast<uint64_t>(fileLength), &start))
        return e;
    handle->archiveStart = start;

    uint8_t raw[kArchiveHeaderSize];
    if (ReadAt(handle->file, start, raw, sizeof raw) != sizeof raw) return vorx_ReadFailed;
    handle->header = ArchiveHeader::Parse(raw);

    // Of the older format only the header is understood; the handle opens without a
    // directory and every look-up in it is refused.
    if (handle->header.version != kVersionFormat2) return vorx_Success;

    uint64_t directoryOffset = 0;
    if (vorx_Error e =
            WalkEntryRecords(handle->file, start + kArchiveHeaderSize, handle->header.entryCount,
                             &directoryOffset, &handle->index))
        return e;
    return handle->directory.Open(handle->file, password, directoryOffset);
}

}  // namespace
}  // namespace vorx

using namespace vorx;

vorx_Error vorx::OpenStreamOnFile(vorx_Stream** handleOut, int file, const char* password,
                                  uint32_t mode) {
    if (!handleOut) return vorx_InvalidArgument;
    *handleOut = nullptr;
    // Bit 1 alone reads; bit 0 reads and writes, and is meaningless with bits 2 or 3.
    if ((mode & 3u) == 0) return vorx_InvalidArgument;
    if ((mode & 1u) && (mode & 0xCu)) return vorx_InvalidArgument;
    if (file < 0) return vorx_NotFound;

    vorx_Stream* handle = new (std::nothrow) vorx_Stream();
    if (!handle) return vorx_OutOfMemory;
    handle->path[0] = '\0';
    handle->file = file;
    handle->mode = mode;
    handle->archiveStart = 0;
    handle->cursorPosition = UINT64_MAX;
    handle->cursorIndex = UINT64_MAX;
    handle->cancelRequested.store(0, std::memory_order_relaxed);
    handle->userData = nullptr;
    handle->password = nullptr;
    handle->progress = nullptr;
    handle->outputFile = -1;
    handle->decoder = nullptr;
    handle->outputWindow = nullptr;

    if (vorx_Error e = OpenArchive(handle, password)) {
        DestroyHandle(handle);
        return e;
    }
    *handleOut = handle;
    return vorx_Success;
}

bool vorx::IsOlderFormat(const vorx_Stream* handle) {
    return handle && handle->header.version != kVersionFormat2;
}

extern "C" vorx_Error VORX_CALL vorx_OpenStream(vorx_Stream** handleOut, const char* path,
                                                const char* password, uint32_t mode) {
    if (!handleOut) return vorx_InvalidArgument;
    *handleOut = nullptr;
    if (!path) return vorx_InvalidArgument;
    if ((mode & 3u) == 0 || ((mode & 1u) && (mode & 0xCu))) return vorx_InvalidArgument;
    const size_t pathLength = strnlen(path, kMaxPathLength + 1);
    if (pathLength > kMaxPathLength) return vorx_InvalidArgument;

    const unsigned flags =
        (mode & 1u) ? platform::kOpenReadWrite | platform::kOpenRandom : platform::kOpenRead;
    const int file = platform::FileOpen(path, flags);
    if (file < 0) return vorx_NotFound;
    const vorx_Error e = OpenStreamOnFile(handleOut, file, password, mode);
    if (e != vorx_Success) {
        platform::FileClose(file);
        return e;
    }
    std::memcpy((*handleOut)->path, path, pathLength + 1);
    return vorx_Success;
}

extern "C" vorx_Error VORX_CALL vorx_CloseStream(vorx_Stream* handle) {
    if (!handle || handle->file < 0) return vorx_InvalidArgument;
    platform::FileClose(handle->file);
    handle->file = -1;
    ReleaseDecoderState(handle->decoder);
    handle->decoder = nullptr;
    ReleaseOutputWindow(handle->outputWindow);
    handle->outputWindow = nullptr;
    DestroyHandle(handle);
    return vorx_Success;
}

extern "C" uint64_t VORX_CALL vorx_GetNumFiles(vorx_Stream* handle) {
    return handle ? handle->header.entryCount : 0;
}

extern "C" vorx_Error VORX_CALL vorx_SetUserData(vorx_Stream* handle, void* userData) {
    if (!handle) return vorx_InvalidArgument;
    handle->userData = userData;
    return vorx_Success;
}

extern "C" vorx_Error VORX_CALL vorx_CancelOperation(vorx_Stream* handle) {
    if (!handle) return vorx_InvalidArgument;
    handle->cancelRequested.store(1, std::memory_order_relaxed);
    return vorx_Success;
}
