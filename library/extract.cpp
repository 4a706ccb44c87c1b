// Extraction of one entry to a file (through the output window, block by block) or to
// memory, by name or by index.
#include "library/extract.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/decoder_state.h"
#include "container/format.h"
#include "library/output_window.h"
#include "library/stream.h"
#include "platform/platform.h"

namespace vorx {
namespace {

// Memory given for the entry never grows: output beyond it is corrupt data.
vorx_Error RefuseMoreOutput(OutputTarget*, uint64_t) { return vorx_CorruptArchive; }

vorx_Error DropBytes(void*, const uint8_t*, size_t) { return vorx_Success; }

// The output sink of a file extraction: appends the bytes to the descriptor. 15 when the
// write fails or writes fewer bytes than asked.
vorx_Error WriteToDescriptor(void* descriptor, const uint8_t* data, size_t length) {
    const int64_t written = platform::FileWrite(*static_cast<int*>(descriptor), data, length);
    return written == static_cast<int64_t>(length) ? vorx_Success : vorx_WriteFailed;
}

// Finds the entry for an extraction by name: 0, or 4 whatever made the look-up fail (a
// name too long to be stored among them).
vorx_Error FindEntry(vorx_Stream* handle, const char* name, EntryAt* entry) {
    entry->index = UINT64_MAX;
    return LocateEntry(handle, &entry->info, &entry->recordPosition, name) == vorx_Success
               ? vorx_Success
               : vorx_NotFound;
}

// The window is reserved at the handle's first file extraction and kept until the
// handle is closed: each block is decoded at its base, whatever entry it belongs to.
OutputWindow* HandleWindow(vorx_Stream* handle) {
    if (handle->outputWindow) return handle->outputWindow;
    OutputWindow* window = new (std::nothrow) OutputWindow();
    if (!window) return nullptr;
    if (!window->Create(OutputWindow::kInitialUnits, OutputWindow::kUnitSize,
                        OutputWindow::kMaximumUnits)) {
        delete window;
        return nullptr;
    }
    return handle->outputWindow = window;
}

// Where the decoded bytes go: the target, and the sink for a file.
struct Destination {
    OutputTarget* target;
    OutputSink sink;
    void* sinkContext;
};

// The decode of the entry, or the delivery of the one decoded ahead, once every check
// has passed.
vorx_Error Decode(vorx_Stream* handle, const EntryAt& entry, const char* password,
                  const EntryRequest& request, const Destination& to, DecodedAhead* ahead,
                  const BlockSupply* supply) {
    handle->cancelRequested.store(0, std::memory_order_relaxed);
    handle->progress = request.progress;
    handle->password = password;
    if (ahead) {
        const vorx_ProgressCallback progress = request.progress;
        if (progress && ahead->firstPercent >= 0) progress(handle->userData, ahead->firstPercent);
        const size_t length = static_cast<size_t>(ahead->produced);
        vorx_Error e = vorx_Success;
        if (to.sink && length > 0)
            e = to.sink(to.sinkContext, ahead->data, length);
        else if (!to.sink && to.target->base && to.target->base != ahead->data && length > 0)
            std::memcpy(to.target->base, ahead->data, length);
        if (e != vorx_Success) return e;
        if (progress && ahead->lastPercent > ahead->firstPercent)
            progress(handle->userData, ahead->lastPercent);
        return ahead->code;
    }
    DecoderState* state = handle->decoder;
    if (!state && !(state = handle->decoder = CreateDecoderState())) return vorx_OutOfMemory;
    const DecodeContext context{handle->file,
                                state,
                                password,
                                request.progress,
                                handle->userData,
                                &handle->cancelRequested,
                                0,
                                supply};
    return DecodeEntryBlocks(entry, context, to.target, to.sink, to.sinkContext, nullptr);
}

vorx_Error ExtractToMemory(vorx_Stream* handle, const EntryAt& entry, const char* password,
                           const EntryRequest& request, DecodedAhead* ahead,
                           const BlockSupply* supply) {
    const vorx_FileInfo& info = entry.info;
    if ((info.uncompressedSize >> 32) != 0) return vorx_OutOfMemory;
    if (!password && (info.attributes & kAttributeEncrypted)) return vorx_PasswordRequired;
    uint8_t* memory = request.destination;
    const bool ours = !memory && (request.owned || request.drop);
    if (!memory && !ours && info.uncompressedSize > 0) return vorx_InvalidArgument;
    uint8_t* allocated = nullptr;
    if (ours && ahead) {
        memory = ahead->data;  // no copy
    } else if (ours) {
        const uint64_t room = info.uncompressedSize + 1;  // below 2^32 + 1
        if (room > SIZE_MAX ||
            !(memory = allocated = new (std::nothrow) uint8_t[static_cast<size_t>(room)]))
            return vorx_OutOfMemory;
    }
    if (request.owned && ours) *request.owned = memory;
    OutputTarget target{memory, info.uncompressedSize, &RefuseMoreOutput};
    const vorx_Error e = Decode(handle, entry, password, request,
                                Destination{&target, nullptr, nullptr}, ahead, supply);
    if (!request.owned) delete[] allocated;
    return e;
}

vorx_Error ExtractToFile(vorx_Stream* handle, const EntryAt& entry, const char* password,
                         const EntryRequest& request, DecodedAhead* ahead,
                         const BlockSupply* supply) {
    const vorx_FileInfo& info = entry.info;
    if (!password && (info.attributes & kAttributeEncrypted)) return vorx_PasswordRequired;
    // Refused only when the volume is known to be too small; equal is enough.
    FreeSpace space{false, 0};
    if (request.output && request.output->FreeBytes)
        space.known = request.output->FreeBytes(request.output->context, &space.bytes);
    else if (request.outputPath)
        space = FreeSpaceForPath(request.outputPath);
    if (space.known && info.uncompressedSize > space.bytes) return vorx_OutOfDiskSpace;
    OutputWindow* window = HandleWindow(handle);
    if (!window) return vorx_OutOfMemory;
    int* descriptor = &handle->outputFile;
    *descriptor = -1;
    if (request.output) {
        *descriptor = request.output->Open(request.output->context);
        if (request.descriptor) *request.descriptor = *descriptor;
        if (*descriptor < 0) return vorx_InvalidArgument;
    }
    OutputWindow::Target target = window->MakeTarget();
    const Destination to{&target.target, request.output ? &WriteToDescriptor : &DropBytes,
                         descriptor};
    return Decode(handle, entry, password, request, to, ahead, supply);
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

void ReleaseOutputWindow(OutputWindow* window) { delete window; }

vorx_Error ExtractEntryAt(vorx_Stream* handle, const EntryAt& entry, const char* password,
                          const EntryRequest& request, DecodedAhead* ahead,
                          const BlockSupply* supply) {
    if (request.owned) *request.owned = nullptr;
    if (request.descriptor) *request.descriptor = -1;
    const vorx_Error result = request.rules == Rules::Memory
                                  ? ExtractToMemory(handle, entry, password, request, ahead, supply)
                                  : ExtractToFile(handle, entry, password, request, ahead, supply);
    // Memory decoded ahead that the request took over is no longer the caller's.
    if (ahead && request.owned && *request.owned == ahead->data) ahead->data = nullptr;
    return result;
}

vorx_Error ExtractEntryByIndex(vorx_Stream* handle, uint64_t index, const char* password,
                               const EntryRequest& request) {
    EntryAt entry;
    if (LocateEntryAt(handle, index, &entry) != vorx_Success) {
        if (request.owned) *request.owned = nullptr;
        if (request.descriptor) *request.descriptor = -1;
        return vorx_NotFound;
    }
    return ExtractEntryAt(handle, entry, password, request, nullptr, nullptr);
}

bool StampOutput(int fd, int64_t lastWriteSeconds) {
    const int64_t now = platform::CurrentTime();
    return platform::SetFileTimesOf(fd, now, lastWriteSeconds != 0 ? lastWriteSeconds : now);
}

vorx_Error FinishOutput(int fd, int64_t lastWriteSeconds, vorx_Error result) {
    if (result == vorx_Success && !StampOutput(fd, lastWriteSeconds)) result = vorx_ReadFailed;
    if (platform::FileClose(fd) != 0 && result == vorx_Success) result = vorx_WriteFailed;
    return result;
}

}  // namespace vorx

using namespace vorx;

namespace {

// vorx_DecompressToFile writes the named file itself, created or truncated.
int OpenNamedOutput(void* path) {
    return platform::FileOpen(static_cast<const char*>(path), platform::kOpenReadWrite |
                                                                  platform::kOpenCreate |
                                                                  platform::kOpenTruncate);
}

}  // namespace

extern "C" vorx_Error VORX_CALL vorx_DecompressToFile(vorx_Stream* handle, const char* name,
                                                      const char* outputPath,
                                                      vorx_ProgressCallback progress,
                                                      const char* password) {
    if (!handle || !name || !outputPath) return vorx_InvalidArgument;
    EntryAt entry;
    if (FindEntry(handle, name, &entry) != vorx_Success) return vorx_NotFound;
    int output = -1;
    const FileOutput named{const_cast<char*>(outputPath), &OpenNamedOutput};
    EntryRequest request;
    request.rules = Rules::File;
    request.outputPath = outputPath;
    request.output = &named;
    request.descriptor = &output;
    request.progress = progress;
    const vorx_Error result = ExtractEntryAt(handle, entry, password, request, nullptr, nullptr);
    if (output < 0) return result;
    return FinishOutput(output, entry.info.lastWriteSeconds, result);
}

extern "C" vorx_Error VORX_CALL vorx_DecompressToPtr(vorx_Stream* handle, const char* name,
                                                     void* destination,
                                                     vorx_ProgressCallback progress,
                                                     const char* password) {
    if (!handle || !name) return vorx_InvalidArgument;
    // A name too long for the archive is not found here, before the length rule of this
    // call (more than 256 characters: 2) could apply.
    EntryAt entry;
    if (FindEntry(handle, name, &entry) != vorx_Success) return vorx_NotFound;
    EntryRequest request;
    request.destination = static_cast<uint8_t*>(destination);
    request.progress = progress;
    return ExtractEntryAt(handle, entry, password, request, nullptr, nullptr);
}
