// The extraction worker: extracts every entry of the open archive below the destination
// on a thread of its own, asks before overwriting, retries encrypted entries with a
// remembered or newly typed password, then starts the configured program and ends the
// wizard. Paths and names are UTF-16: an entry's name is checked as stored, converted
// once from the ANSI code page and split there. The folders below the destination are
// held open while their files are written, each opened from the one above and never
// through a link (platform/win32/held_folders.h). A new file is created exclusively in
// its held folder (nothing of its name, not even a link, is opened) and removed again
// when it fails; a file that replaces another is written under a fresh name beside it
// and renamed over it when complete, so a link at the target's name is replaced, never
// written through, and a failed extraction leaves the old file behind.
//
// Entries are decoded ahead on decoding threads of the library's parallel decoder (one
// per processor the process may use, at most kMaxDecodingThreads); the worker takes
// every result in entry order and does everything else (questions, files, messages) as
// on one thread.
//
// Cross-thread touch points, all of them:
//  - Cancelled: written by the main thread (Cancel) and by the worker (Cancel at the
//    overwrite question), read by the worker between entries and at the end;
//  - vorx_CancelOperation: called by the main thread while the worker decodes; the
//    decoding threads stop at their next block;
//  - IsRunning: the main thread asks the thread's exit code;
//  - the wizard window: the worker reaches it only through synchronous calls (status
//    line, progress position, owned message boxes and dialogs, EndDialog);
//  - Result: written by the worker, read by the main thread after Wait.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "app/app_logic.h"
#include "library/vorx.h"

struct PasswordDialog;
namespace vorx {
class ParallelDecoder;
}  // namespace vorx

// The decoding threads at most, whatever the processors: the memory they may take
// together stays far below what a 32-bit process has (README: the self-extractor).
constexpr unsigned kMaxDecodingThreads = 8;

struct ExtractWorker {
    HANDLE Thread;
    HWND Window;                // the wizard; null in quiet mode
    PasswordDialog* Passwords;  // shared with start-up
    vorx_Stream* Archive;
    vorx::ParallelDecoder* Decoder;  // while the entries are extracted; null: one thread
    uint8_t OverwriteAll;
    std::atomic<uint8_t> Cancelled;
    // The command to run afterwards; invalid when its configured bytes are no text of the
    // ANSI code page (then nothing is started).
    wchar_t RunAfterExtract[sfx::kConfigFieldSize];
    bool RunCommandInvalid;
    // The destination folder: from start-up, or as typed on the wizard's page.
    wchar_t Destination[sfx::kDestinationChars];
    // Which names the run command may mean are files this run wrote or the person kept:
    // only those are started.
    sfx::RunCandidates Written;
    // The files this run wrote or kept, by identity: a later entry that lands on one of
    // them has an earlier entry's name, and the run stops there.
    sfx::FileIdSet Files;
    // The destination and the folders of the entry being written, held open.
    sfx::HeldFolders Folders;
    // The code that stopped the run: 0 when every entry was extracted or deliberately
    // skipped, 2 when the user cancelled, 5 when an overwrite question could not be
    // shown, 4 when the run command names no file of this run. The process exit code.
    vorx_Error Result;

    void Init(vorx_Stream* archive, PasswordDialog& passwords, const wchar_t* destination,
              const char* runAfterExtract);
    // Starts the thread; false when it cannot be created.
    bool Start(HWND window, bool overwriteAll);
    void Cancel();
    void Wait();
    bool IsRunning() const;
    bool WasStarted() const { return Thread != nullptr; }
    // Extracts entry `index` (`info` as enumerated), asking for passwords as needed;
    // returns the library's code. The file appears as `leaf` (`length` units) in the held
    // `folder` only when the whole entry was written; an existing file of that name is
    // replaced only when `replace` (the person agreed).
    vorx_Error ExtractEntry(uint64_t index, const vorx_FileInfo& info, HANDLE folder,
                            const wchar_t* leaf, size_t length, bool replace);
    static DWORD WINAPI ThreadMain(LPVOID worker);

private:
    void ExtractAll();
    // One entry: false when the run stops there.
    bool ExtractIndex(uint64_t index);
    // The entry's name checked and converted into `name` and split into `parts`, and its
    // path below the destination; false (reported) when it is refused.
    bool NameOf(const vorx_FileInfo& info, wchar_t (&name)[sfx::kMaxNameChars + 1],
                sfx::NameParts* parts, wchar_t (&outputPath)[sfx::kOutputPathChars]);
    // Holds the folders of the entry `name` (split as `parts`), made where missing and
    // never through a link; false (reported) when it cannot.
    bool HoldFoldersOf(const wchar_t* name, const sfx::NameParts& parts);
    // Holds the destination, making it first; false when it cannot.
    bool HoldDestination();
    void ReleaseFolders();
    // Asks whether to replace the existing file `outputPath`: false when the entry is
    // not to be written (kept, or the run stops: see Cancelled).
    bool MayReplace(const wchar_t* outputPath, const wchar_t* name, uint64_t id, bool identified);
    // Lets the decoding threads work on the entries from `index` on.
    void DecodeAhead(uint64_t index);
    void Finish();
    void Report(vorx_Error code, const char* caption, UINT flags);
};

// Progress callback of every extraction: moves the wizard's progress bar.
void VORX_CALL OnExtractProgress(void* userData, int percent);
