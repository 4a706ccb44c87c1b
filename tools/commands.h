// The four commands of the vorx tool, and what they share: the interrupt key, host
// paths, the exit code of a library error, and opening an archive to read.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/parallel_decoder.h"
#include "library/vorx.h"
#include "platform/host.h"
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

// Makes `handle` the archive the interrupt key cancels, for this object's life (however
// the command ends: an exception leaves no closed handle behind for the key).
struct CancelOnInterrupt {
    explicit CancelOnInterrupt(vorx_Stream* handle) { gActiveHandle = handle; }
    ~CancelOnInterrupt() { gActiveHandle = nullptr; }
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;
};

// `name` below `folder` in a host path.
std::string JoinPath(const std::string& folder, const std::string& name);

// The exit code of a library error: out of memory, or fatal.
int ExitForError(vorx_Error e);

// Reports `message` and returns the exit code `code`: how every command refuses.
int Fail(int code, const std::string& message);

// "WHAT: REASON" for a system call that failed just now, the reason in the system's words
// (read before anything else can fail). When the disk is full, also the bytes `needed`
// (0: not known; at least that many when `atLeast`) and those free in `folder`:
// "cannot write 'big.bin': No space left on device (10.0 MiB needed, 2.0 MiB free)".
std::string SystemFailure(const std::string& what, const std::string& folder = "",
                          uint64_t needed = 0, bool atLeast = false);

// Why the library failed with `e` (its text; for a failure of the system, the system's
// reason too, and for a full disk the bytes `needed` and those free in `folder`).
std::string LibraryFailure(vorx_Error e, const std::string& folder = "", uint64_t needed = 0);

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

// When the archive `path`, open as `file`, ends before what it holds (a download or copy
// cut short), reports it and returns true.
bool ReportIfCutShort(int file, const std::string& path);

// Opens the archive of l, t and x with the password given; reports why it cannot (an
// incomplete file as such) and returns the exit code. The tool opens the file itself and
// hands the library its descriptor: no host path reaches the library, whose paths are in
// the ANSI code page on Windows.
int Open(const Options& o, OpenArchive* archive);

// Entry `index` (`info` as enumerated) decoded under vorx_DecompressToFile's rules into
// `temporary`, made in `folder`, through a descriptor of it (free space asked of the
// folder: no path reaches the library), with its last-write time.
vorx_Error DecodeToTemporary(vorx::ParallelDecoder& decoder, uint64_t index,
                             const vorx_FileInfo& info, const host::TemporaryFile& temporary,
                             const host::Folder& folder, const char* password);

// The parallel decoder of t and x over `archive`: `settings` on `threads` (those of -j),
// encrypted entries decoded ahead with the archive's password.
class ArchiveDecoder : public vorx::ParallelDecoder {
public:
    ArchiveDecoder(const OpenArchive& archive, unsigned threads, Settings settings);
};

// Every entry's information, in the archive's order, and the sum of their sizes. Reading
// stops at the first entry that cannot be read: `error` says why, and `entries` holds
// those before it.
struct EntryList {
    std::vector<vorx_FileInfo> entries;
    std::vector<uint64_t> index;  // each entry's index in the archive
    uint64_t totalSize = 0;
    vorx_Error error = vorx_Success;
    uint64_t unreadable = 0;  // the index of the entry that could not be read
    int selectExit = 0;       // kExitWarning when a pattern of the command took no entry
};
EntryList ReadEntries(vorx_Stream* handle);
// Reports the entry of `handle` that could not be read, with its real reason; returns
// the exit code.
int ReportUnreadableEntry(vorx_Stream* handle, const EntryList& list);

// Progress of one entry's decode, moving the bar between the entry's first and last byte.
struct DecodeProgress {
    Progress* bar;
    uint64_t before;
    uint64_t size;
};

// The library's progress callback; its user data is a DecodeProgress.
void VORX_CALL OnDecodeProgress(void* userData, int percent);

}  // namespace tool
