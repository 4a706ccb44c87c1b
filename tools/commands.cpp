// What the vorx tool's commands share.
#include "tools/commands.h"

#include "library/completeness.h"
#include "library/extract.h"
#include "platform/host.h"
#include "platform/platform.h"

namespace tool {

std::atomic<bool> gInterrupted{false};
std::atomic<vorx_Stream*> gActiveHandle{nullptr};

void OnInterrupt() {
    gInterrupted = true;
    if (vorx_Stream* h = gActiveHandle.load()) vorx_CancelOperation(h);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '/' || last == host::PathSeparator()) return folder + name;
    return folder + host::PathSeparator() + name;
}

int ExitForError(vorx_Error e) { return e == vorx_OutOfMemory ? kExitNoMemory : kExitFatal; }

int Fail(int code, const std::string& message) {
    Error(message);
    return code;
}

namespace {

// " (10.0 MiB needed, 2.0 MiB free)", or "" when the free space cannot be told.
std::string DiskSpace(const std::string& folder, uint64_t needed, bool atLeast) {
    uint64_t free = 0;
    if (!platform::FreeBytesForFolder(folder.empty() ? "." : folder.c_str(), &free)) return "";
    std::string text = " (";
    if (needed) text += (atLeast ? "at least " : "") + ByteCount(needed) + " needed, ";
    return text + ByteCount(free) + " free)";
}

}  // namespace

std::string SystemFailure(const std::string& what, const std::string& folder, uint64_t needed,
                          bool atLeast) {
    const host::SystemError error = host::LastError();
    return what + ": " + error.text + (error.diskFull ? DiskSpace(folder, needed, atLeast) : "");
}

std::string LibraryFailure(vorx_Error e, const std::string& folder, uint64_t needed) {
    const std::string text = vorx_GetErrorString(e);
    if (e == vorx_OutOfDiskSpace) return text + DiskSpace(folder, needed, false);
    if (e == vorx_WriteFailed || e == vorx_ReadFailed || e == vorx_NotFoundOrInUse)
        return SystemFailure(text, folder, needed);
    return text;
}

int ToArchiveText(const std::string& text, unsigned codePage, const char* what, std::string* out) {
    std::string error;
    if (!host::ToCodePage(text, codePage, out, &error))
        return Fail(kExitUsage, std::string(what) + " cannot be stored: " + error);
    return kExitOk;
}

bool ReportIfCutShort(int file, const std::string& path) {
    const vorx::Completeness c = vorx::CheckCompleteness(file);
    if (!c.cutShort) return false;
    const std::string needed =
        c.promised == vorx::kUnknownPromise
            ? ", inside its own headers"
            : ", but what it holds needs at least " + std::to_string(c.promised);
    Error("'" + path + "' is incomplete: it ends after " + std::to_string(c.length) + " bytes" +
          needed + "; it was cut short, probably while it was downloaded or copied: get it again");
    return true;
}

int Open(const Options& o, OpenArchive* archive) {
    if (o.password) {
        std::string converted;
        if (const int e = ToArchiveText(*o.password, o.codePage, "the password", &converted))
            return e;
        archive->password = converted;
    }
    const int file = host::OpenForReading(o.archive);
    if (file < 0) {
        const std::string missing = SystemFailure("cannot find the archive '" + o.archive + "'");
        const std::string other = SystemFailure("cannot open the archive '" + o.archive + "'");
        switch (host::Stat(o.archive).kind) {
            case host::PathKind::Missing:
                return Fail(kExitFatal, missing);
            case host::PathKind::File:
                return Fail(kExitFatal, other);
            default:
                return Fail(kExitFatal, "'" + o.archive + "' is not a file");
        }
    }
    // Nothing of a file cut short is trusted, even where what is there would read.
    if (ReportIfCutShort(file, o.archive)) {
        platform::FileClose(file);
        return kExitFatal;
    }
    const vorx_Error e =
        vorx::OpenStreamOnFile(&archive->handle, file, archive->Password(), vorx_OpenReadOnly);
    if (e == vorx_Success) return kExitOk;
    platform::FileClose(file);
    archive->handle = nullptr;
    switch (e) {
        case vorx_NotFound:
            Error("'" + o.archive + "' holds no archive");
            break;
        case vorx_PasswordRequired:
            Error("the names of '" + o.archive + "' are encrypted: give the password with -p");
            break;
        case vorx_CrcMismatch:
            Error("wrong password for '" + o.archive + "'");
            break;
        default:
            Error("cannot open '" + o.archive + "': " + LibraryFailure(e));
    }
    return ExitForError(e);
}

namespace {

struct TemporaryOutput {
    const host::TemporaryFile* file;
    const host::Folder* folder;
};

int OpenTemporary(void* output) {
    return static_cast<TemporaryOutput*>(output)->file->OpenForWriting();
}

bool FreeBytesOfFolder(void* output, uint64_t* bytes) {
    return host::FreeBytesIn(*static_cast<TemporaryOutput*>(output)->folder, bytes);
}

}  // namespace

vorx_Error DecodeToTemporary(vorx::ParallelDecoder& decoder, uint64_t index,
                             const vorx_FileInfo& info, const host::TemporaryFile& temporary,
                             const host::Folder& folder, const char* password) {
    TemporaryOutput output{&temporary, &folder};
    const vorx::FileOutput file{&output, &OpenTemporary, &FreeBytesOfFolder};
    int fd = -1;
    vorx::EntryRequest request;
    request.rules = vorx::Rules::File;
    request.output = &file;
    request.descriptor = &fd;
    request.progress = &OnDecodeProgress;
    const vorx_Error e = decoder.Extract(index, password, request);
    return fd < 0 ? e : vorx::FinishOutput(fd, info.lastWriteSeconds, e);
}

namespace {

vorx::ParallelDecoder::Settings WithThreads(vorx::ParallelDecoder::Settings settings,
                                            unsigned threads) {
    settings.threads = threads;
    return settings;
}

}  // namespace

ArchiveDecoder::ArchiveDecoder(const OpenArchive& archive, unsigned threads, Settings settings)
    : ParallelDecoder(archive.handle, WithThreads(settings, threads)) {
    SetAheadPassword(archive.Password());
}

EntryList ReadEntries(vorx_Stream* handle) {
    EntryList list;
    const uint64_t count = vorx_GetNumFiles(handle);
    for (uint64_t i = 0; i < count; ++i) {
        vorx_FileInfo info;
        list.error = vorx_EnumerateFiles(handle, &info, i);
        if (list.error != vorx_Success) {
            list.unreadable = i;
            break;
        }
        list.totalSize += info.uncompressedSize;
        list.entries.push_back(info);
        list.index.push_back(i);
    }
    return list;
}

int ReportUnreadableEntry(vorx_Stream* handle, const EntryList& list) {
    const std::string entry = "cannot read entry " + std::to_string(list.unreadable) + ": ";
    if (vorx::IsOlderFormat(handle))
        Error("the archive is of the older format, whose entries cannot be read");
    else if (list.error == vorx_NotFound)
        Error(entry +
              "its name is missing from the names table or longer than the 255 bytes "
              "a name may take");
    else
        Error(entry + vorx_GetErrorString(list.error));
    return ExitForError(list.error);
}

void VORX_CALL OnDecodeProgress(void* userData, int percent) {
    const auto* p = static_cast<const DecodeProgress*>(userData);
    if (p && percent >= 0 && percent <= 100)
        p->bar->Show(p->before + p->size / 100 * static_cast<uint64_t>(percent));
}

}  // namespace tool
