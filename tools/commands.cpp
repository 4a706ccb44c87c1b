// What the vorx tool's commands share.
#include "tools/commands.h"

#include "platform/host.h"

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

std::string BaseName(const std::string& absolute) {
    const size_t slash = absolute.find_last_of(std::string("/") + host::PathSeparator());
    return slash == std::string::npos ? absolute : absolute.substr(slash + 1);
}

unsigned Threads(const Options& o) {
    if (o.jobs != 0) return o.jobs;
    const unsigned processors = host::ProcessorCount();
    return processors < kMaxJobs ? processors : kMaxJobs;
}

int ExitForError(vorx_Error e) { return e == vorx_OutOfMemory ? kExitNoMemory : kExitFatal; }

int Fail(int code, const std::string& message) {
    Error(message);
    return code;
}

int ToArchiveText(const std::string& text, unsigned codePage, const char* what, std::string* out) {
    std::string error;
    if (!host::ToCodePage(text, codePage, out, &error))
        return Fail(kExitUsage, std::string(what) + " cannot be stored: " + error);
    return kExitOk;
}

int Open(const Options& o, OpenArchive* archive) {
    if (o.password) {
        std::string converted;
        if (const int e = ToArchiveText(*o.password, o.codePage, "the password", &converted))
            return e;
        archive->password = converted;
    }
    if (host::Stat(o.archive).kind != host::PathKind::File)
        return Fail(kExitFatal, "cannot find the archive '" + o.archive + "'");
    const vorx_Error e = vorx_OpenStream(&archive->handle, o.archive.c_str(), archive->Password(),
                                         vorx_OpenReadOnly);
    if (e == vorx_Success) return kExitOk;
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
            Error("cannot open '" + o.archive + "': " + vorx_GetErrorString(e));
    }
    return ExitForError(e);
}

EntryList ReadEntries(vorx_Stream* handle) {
    EntryList list;
    const uint64_t count = vorx_GetNumFiles(handle);
    for (uint64_t i = 0; i < count; ++i) {
        vorx_FileInfo info;
        list.error = vorx_EnumerateFiles(handle, &info, i);
        if (list.error != vorx_Success) break;
        list.totalSize += info.uncompressedSize;
        list.entries.push_back(info);
    }
    return list;
}

int ReportUnreadableEntry(const EntryList& list) {
    Error(list.error == vorx_NotFound
              ? "the archive is of the older format, whose entries cannot be read"
              : "cannot read entry " + std::to_string(list.entries.size()) + ": " +
                    vorx_GetErrorString(list.error));
    return ExitForError(list.error);
}

void VORX_CALL OnDecodeProgress(void* userData, int percent) {
    const auto* p = static_cast<const DecodeProgress*>(userData);
    if (p && percent >= 0 && percent <= 100)
        p->bar->Show(p->before + p->size / 100 * static_cast<uint64_t>(percent));
}

}  // namespace tool
