// The four commands of the vorx tool, and what they share: the interrupt key, host
// paths, the exit code of a library error, and opening an archive to read.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/vorx.h"
#include "tools/console.h"
#include "tools/options.h"

namespace tool {

// Each returns the tool's exit code.
int Add(const Options& o);
int List(const Options& o);
int Test(const Options& o);
int Extract(const Options& o);

// Set by the interrupt key: commands stop at the next step and report it.
extern std::atomic<bool> gInterrupted;
// The archive being decoded, whose decode the interrupt key cancels.
extern std::atomic<vorx_Stream*> gActiveHandle;
// The interrupt key's handler: only sets flags.
void OnInterrupt();

// `name` below `folder` in a host path.
std::string JoinPath(const std::string& folder, const std::string& name);
// The last component of an absolute host path.
std::string BaseName(const std::string& absolute);

// The decoding threads of t and x: what -j asks for, or one per processor.
unsigned Threads(const Options& o);

// The exit code of a library error: out of memory, or fatal.
int ExitForError(vorx_Error e);

// Reports `message` and returns the exit code `code`: how every command refuses.
int Fail(int code, const std::string& message);

// Converts a command-line text to the archive's code page into `out`. When it cannot, a
// command-line error: reports it and returns its exit code.
int ToArchiveText(const std::string& text, unsigned codePage, const char* what, std::string* out);

// An archive open for reading with its password, closed with this object.
struct OpenArchive {
    OpenArchive() = default;
    OpenArchive(const OpenArchive&) = delete;
    OpenArchive& operator=(const OpenArchive&) = delete;
    vorx_Stream* handle = nullptr;
    std::optional<std::string> password;  // in the archive's code page
    const char* Password() const { return password ? password->c_str() : nullptr; }
    ~OpenArchive() {
        if (handle) vorx_CloseStream(handle);
    }
};

// Opens the archive of l, t and x with the password given; reports why it cannot and
// returns the exit code.
int Open(const Options& o, OpenArchive* archive);

// Every entry's information, in the archive's order, and the sum of their sizes. Reading
// stops at the first entry that cannot be read: `error` says why, and `entries` holds
// those before it.
struct EntryList {
    std::vector<vorx_FileInfo> entries;
    uint64_t totalSize = 0;
    vorx_Error error = vorx_Success;
};
EntryList ReadEntries(vorx_Stream* handle);
// Reports the entry that could not be read; returns the exit code.
int ReportUnreadableEntry(const EntryList& list);

// Progress of one entry's decode, moving the bar between the entry's first and last byte.
struct DecodeProgress {
    Progress* bar;
    uint64_t before;
    uint64_t size;
};

// The library's progress callback; its user data is a DecodeProgress.
void VORX_CALL OnDecodeProgress(void* userData, int percent);

}  // namespace tool
