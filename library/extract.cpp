// Extraction of one entry to a file (through the output window, block by block) or to
// the caller's memory.
#include "library/extract.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "container/format.h"
#include "library/decode_entry.h"
#include "library/output_window.h"
#include "library/stream.h"
#include "platform/platform.h"

namespace vorx {
namespace {

// The memory of vorx_DecompressToPtr never grows: output beyond it is corrupt data.
vorx_Error RefuseMoreOutput(OutputTarget*, uint64_t) { return vorx_CorruptArchive; }

// Finds the entry for an extraction call: 0, or 4 whatever made the look-up fail (a
// name too long to be stored among them).
vorx_Error FindEntry(vorx_Stream* handle, const char* name, vorx_FileInfo* info,
                     uint64_t* recordPosition) {
    return LocateEntry(handle, info, recordPosition, name) == vorx_Success ? vorx_Success
                                                                           : vorx_NotFound;
}

void PrepareHandle(vorx_Stream* handle, vorx_ProgressCallback progress, const char* password) {
    handle->cancelRequested.store(0, std::memory_order_relaxed);
    handle->progress = progress;
    handle->password = password;
}

}  // namespace

FreeSpace FreeSpaceForPath(const char* path) {
    size_t folderLength = 0;
    for (size_t i = 0; path[i]; ++i) {
        if (platform::IsPathSeparator(path[i])) folderLength = i + 1;
    }
    // The folder keeps its trailing separator; no separator means the current folder.
    char local[260];
    char* folder =
        folderLength < sizeof local ? local : static_cast<char*>(std::malloc(folderLength + 1));
    if (!folder) return FreeSpace{false, 0};
    std::memcpy(folder, path, folderLength);
    folder[folderLength] = '\0';
    FreeSpace space{false, 0};
    space.known = platform::FreeBytesForFolder(folder, &space.bytes);
    if (folder != local) std::free(folder);
    return space;
}

vorx_Error WriteToOutputFile(vorx_Stream* handle, const uint8_t* data, size_t length) {
    if (length == 0) return vorx_Success;
    const int64_t written = platform::FileWrite(handle->outputFile, data, length);
    return written == static_cast<int64_t>(length) ? vorx_Success : vorx_WriteFailed;
}

void ReleaseOutputWindow(OutputWindow* window) { delete window; }

}  // namespace vorx

using namespace vorx;

vorx_Error vorx::DecompressToOutput(vorx_Stream* handle, const char* name, const char* outputPath,
                                    vorx_ProgressCallback progress, const char* password,
                                    const FileOutput& output, vorx_FileInfo* info,
                                    int* descriptor) {
    *descriptor = -1;
    if (!handle || !name || (!outputPath && !output.FreeBytes)) return vorx_InvalidArgument;
    uint64_t recordPosition = 0;
    if (FindEntry(handle, name, info, &recordPosition) != vorx_Success) return vorx_NotFound;
    if (!password && (info->attributes & kAttributeEncrypted)) return vorx_PasswordRequired;
    // Refused only when the volume is known to be too small; equal is enough.
    FreeSpace space{false, 0};
    if (output.FreeBytes)
        space.known = output.FreeBytes(output.context, &space.bytes);
    else
        space = FreeSpaceForPath(outputPath);
    if (space.known && info->uncompressedSize > space.bytes) return vorx_OutOfDiskSpace;

    // The window is reserved at the handle's first file extraction and kept until the
    // handle is closed: each block is decoded at its base, whatever entry it belongs to.
    OutputWindow* window = handle->outputWindow;
    if (!window) {
        window = new (std::nothrow) OutputWindow();
        if (!window) return vorx_OutOfMemory;
        if (!window->Create(OutputWindow::kInitialUnits, OutputWindow::kUnitSize,
                            OutputWindow::kMaximumUnits)) {
            delete window;
            return vorx_OutOfMemory;
        }
        handle->outputWindow = window;
    }
    *descriptor = output.Open(output.context);
    if (*descriptor < 0) return vorx_InvalidArgument;
    handle->outputFile = *descriptor;
    PrepareHandle(handle, progress, password);

    OutputWindow::Target target = window->MakeTarget();
    return DecodeLocatedEntry(handle, *info, recordPosition, &target.target, &WriteToOutputFile);
}

namespace {

// vorx_DecompressToFile writes the named file itself, created or truncated.
int OpenNamedOutput(void* path) {
    return platform::FileOpen(static_cast<const char*>(path), platform::kOpenReadWrite |
                                                                  platform::kOpenCreate |
                                                                  platform::kOpenTruncate);
}

}  // namespace

vorx_Error vorx::FinishOutputFile(int output, const char* path, const vorx_FileInfo& info,
                                  vorx_Error result) {
    // A file that cannot be closed may not hold what was written to it.
    if (platform::FileClose(output) != 0 && result == vorx_Success) result = vorx_WriteFailed;
    if (result != vorx_Success) return result;
    const int64_t now = platform::CurrentTime();
    const int64_t lastWrite = info.lastWriteSeconds != 0 ? info.lastWriteSeconds : now;
    if (!platform::SetFileTimes(path, now, lastWrite)) return vorx_ReadFailed;
    return vorx_Success;
}

extern "C" vorx_Error VORX_CALL vorx_DecompressToFile(vorx_Stream* handle, const char* name,
                                                      const char* outputPath,
                                                      vorx_ProgressCallback progress,
                                                      const char* password) {
    vorx_FileInfo info;
    int output = -1;
    const FileOutput named{const_cast<char*>(outputPath), &OpenNamedOutput};
    vorx_Error result =
        DecompressToOutput(handle, name, outputPath, progress, password, named, &info, &output);
    if (output < 0) return result;
    return FinishOutputFile(output, outputPath, info, result);
}

extern "C" vorx_Error VORX_CALL vorx_DecompressToPtr(vorx_Stream* handle, const char* name,
                                                     void* destination,
                                                     vorx_ProgressCallback progress,
                                                     const char* password) {
    if (!handle || !name) return vorx_InvalidArgument;
    vorx_FileInfo info;
    uint64_t recordPosition = 0;
    // A name too long for the archive is not found here, before the length rule of this
    // call (more than 256 characters: 2) could apply.
    if (FindEntry(handle, name, &info, &recordPosition) != vorx_Success) return vorx_NotFound;
    if ((info.uncompressedSize >> 32) != 0) return vorx_OutOfMemory;
    if (!password && (info.attributes & kAttributeEncrypted)) return vorx_PasswordRequired;
    if (!destination && info.uncompressedSize > 0) return vorx_InvalidArgument;
    PrepareHandle(handle, progress, password);

    OutputTarget target{static_cast<uint8_t*>(destination), info.uncompressedSize,
                        &RefuseMoreOutput};
    return DecodeLocatedEntry(handle, info, recordPosition, &target, nullptr);
}
