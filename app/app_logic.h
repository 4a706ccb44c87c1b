// The self-extractor's decisions that need no window: destination settling, the "/q"
// rule, path building and name safety (a name checked as stored, then converted once to
// UTF-16 and split there), the held folders of the walk, the files of the run, the
// run-command resolution, the entry password protocol and the overwrite answer. Everything that
// touches the system reaches this module through small function-pointer records, so the rules run
// and are tested on any platform. This header includes no operating-system header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "container/config_block.h"
#include "container/name_policy.h"
#include "library/vorx.h"

namespace sfx {

constexpr size_t kPathSize = 256;  // passwords, as the dialog and the library take them
using vorx::kConfigFieldSize;      // each field of the configuration block

// Paths are UTF-16 (wchar_t on Windows). The destination holds at most 259 units; an
// entry's name at most 239 (its units are at most its bytes in the ANSI code page), so
// a file's full path, for messages and the program to run, fits 500 with the backslash.
constexpr size_t kDestinationChars = 260;  // with the NUL
constexpr size_t kMaxNameChars = vorx::kMaxEntryNameBytes;
constexpr size_t kOutputPathChars = kDestinationChars + 1 + kMaxNameChars;
// Components of a name: "a\b\..." of 239 units has at most 120.
constexpr size_t kMaxComponents = (kMaxNameChars + 1) / 2;

// Appends one backslash unless `path` already ends with one (an empty path becomes "\").
// Returns false and leaves `path` unchanged when the result would not fit `capacity`.
bool AppendBackslash(wchar_t* path, size_t capacity);

// Writes `before`, `text` and `after` one after the other into `out` (the messages
// with a name or path in them). Returns false, with an empty `out`, when they do not fit.
bool Compose(wchar_t* out, size_t capacity, const wchar_t* before, const wchar_t* text,
             const wchar_t* after);

// True when the command-line tail is exactly "/q", letter case ignored.
bool IsQuietTail(const char* tail);
// True when the command-line tail is exactly "/q /s", letter case ignored: the quiet
// run that shows no window at all.
bool IsSilentTail(const char* tail);

// The folder that holds the executable whose full path is `modulePath`: the drive
// ("C:" when the second character is a colon) followed by the directory, up to and
// including the last slash or backslash. Returns false when it does not fit.
bool ModuleFolderOf(const wchar_t* modulePath, wchar_t* out, size_t capacity);

// ExpandEnvironmentStringsW: the size needed including the NUL, 0 on failure.
using ExpandFn = uint32_t (*)(void* context, const wchar_t* source, wchar_t* destination,
                              uint32_t size);

// Settles the configured destination (already in UTF-16) in place: an empty text becomes
// `moduleFolder`; any other text is replaced by its expansion when that succeeds and
// fits, and is kept as written otherwise.
void SettleDestination(wchar_t (&destination)[kDestinationChars], const wchar_t* moduleFolder,
                       ExpandFn expand, void* context);

// True when the entry `name`, in code page `codePage` (the system's ANSI code page),
// may be written below the destination: the one name rule of container/name_policy.h,
// which keeps every name below the destination and away from devices and from names
// Windows would change.
bool IsSafeEntryName(const char* name, unsigned codePage);

// An entry's name in UTF-16, split at its backslashes: where each component starts and
// how long it is.
struct NameParts {
    size_t count;
    uint16_t start[kMaxComponents];
    uint16_t length[kMaxComponents];
};

// Splits `wide`, the conversion of the stored name `stored` (which IsSafeEntryName
// accepted in `codePage`), at its backslashes. False when the conversion changed the
// name's shape or holds what no name may: more components than the stored name has (or
// fewer), an empty component, "." or "..", a '/', a control character (C0, DEL, C1),
// more than kMaxNameChars units.
bool SplitEntryName(const char* stored, unsigned codePage, const wchar_t* wide, NameParts* parts);

// Output path = destination, a backslash unless it ends with one, then the entry name.
// Returns vorx_Success, or vorx_InvalidArgument when the path does not fit `capacity`.
vorx_Error BuildOutputPath(wchar_t* out, size_t capacity, const wchar_t* destination,
                           const wchar_t* name);

// Makes the destination folder with the folders above it that are missing: every
// prefix that ends before a separator ('\' or '/') and after the root, which is never
// made ("C:\", the "\\server\share\" of a network path). The destination is the
// person's choice: links there are followed. `create` makes one folder and may fail
// when it exists; whether the whole path is a folder is told by opening it.
void CreateDestination(const wchar_t* destination, void* context,
                       void (*create)(void* context, const wchar_t* path));

// The folders held for the entry being written: the destination in folder[0], then each
// folder of the entry's name. The next entry keeps those its name shares with this one
// (component by component, exactly as written) and walks on from there.
enum class FolderStep { Opened, Link, NotFolder, Failed };
struct FolderOps {
    void* context;
    // Opens, making it when missing, the folder `name` (`length` units) in `parent`,
    // refusing a reparse point; on Opened `*folder` holds it.
    FolderStep (*Open)(void* context, void* parent, const wchar_t* name, size_t length,
                       void** folder);
    void (*Close)(void* context, void* folder);
};
struct HeldFolders {
    void* folder[kMaxComponents + 1];
    size_t depth;                     // folders held below the destination
    wchar_t name[kMaxNameChars + 1];  // the name they were walked for
    NameParts parts;
};

enum class FolderWalk {
    Done,
    CannotCreate,  // a folder could not be made or opened, or a file has its name
    ThroughLink,   // a folder below the destination is a link: nothing may pass it
};

// Holds the folders of the entry `name` (split into `parts`) below the destination that
// `held.folder[0]` holds: the file goes into held.folder[held.depth]. On failure
// `*stopped` tells how many components lead to the folder at fault (it included).
FolderWalk WalkFolders(HeldFolders& held, const wchar_t* name, const NameParts& parts,
                       const FolderOps& ops, size_t* stopped);
// Lets go of every folder below the destination.
void ReleaseFolders(HeldFolders& held, const FolderOps& ops);

// The files this run wrote, or kept when asked, by their identity in the file system.
// A later entry whose file is one of them has an earlier entry's name as Windows
// compares names (letter case, a short alias): the run stops there.
class FileIdSet {
public:
    FileIdSet() = default;
    ~FileIdSet();
    FileIdSet(const FileIdSet&) = delete;
    FileIdSet& operator=(const FileIdSet&) = delete;
    // False when there is no memory for it.
    bool Add(uint64_t id);
    bool Contains(uint64_t id) const;

private:
    uint64_t* slots_ = nullptr;  // open addressing; 0 marks a free slot
    size_t capacity_ = 0;
    size_t count_ = 0;
    bool zero_ = false;  // the identity 0, which a slot cannot hold
};

// Outcome of resolving the command to run after the extraction.
enum class RunCommand {
    Ready,      // program holds the program's full path, commandLine the whole line
    NoProgram,  // no part of the command names a file this run wrote: nothing is started
    TooLong,    // the command line would not fit: refused
};

// Which of the names the run command may mean by its program are files that this run
// extracted or that the person chose to keep: one flag per prefix length of the command
// (the program's length inside the quotes for a quoted start), as written and with
// ".exe" appended. Only these may be started: a file that merely exists in the
// destination may have been planted there.
struct RunCandidates {
    bool written[kConfigFieldSize][2];
};

void ClearRunCandidates(RunCandidates& candidates);

// Whether `a` and `b` (`length` units each) name one file as the system compares names
// (CompareStringOrdinal with case ignored on Windows; never a fold of bytes).
using SameNamesFn = bool (*)(const wchar_t* a, const wchar_t* b, size_t length);

// Records that the entry `name` was written (or kept) in the destination. Names compare
// by `same`; "/" in the command stands for "\".
void NoteWrittenEntry(RunCandidates& candidates, const wchar_t* runAfterExtract,
                      const wchar_t* name, SameNamesFn same);

// Finds the program of `runAfterExtract` in `destination`. A quoted start names the
// program up to the closing quote; otherwise the program is the LONGEST blank-separated
// prefix that is a written entry, taken as written or else with ".exe" appended. The
// command line is the quoted full path of the program followed by a blank and the rest
// of the text, which are its arguments; `program` receives the full path alone.
RunCommand ResolveRunCommand(const wchar_t* destination, const wchar_t* runAfterExtract,
                             const RunCandidates& candidates, wchar_t* program,
                             size_t programCapacity, wchar_t* commandLine, size_t capacity);

// The answer to "File ... exists already, ovewrite it?".
enum class OverwriteAnswer {
    Replace,     // Yes
    Keep,        // No
    Stop,        // Cancel
    Unanswered,  // the box could not be shown (or gave another value): kept, and reported
};
OverwriteAnswer OverwriteAnswerOf(int messageBoxResult);

// The steps of extracting one entry that may need a password.
struct PasswordProtocolOps {
    void* context;
    // Extracts the entry with `password` (null: none) and returns the library's code.
    vorx_Error (*Extract)(void* context, const char* password);
    // The password remembered for the following files, or null.
    const char* (*Remembered)(void* context);
    // Shows the per-file password dialog: 1 OK (the password is in `buffer`), 2 Cancel,
    // anything else means the dialog could not be shown.
    intptr_t (*Prompt)(void* context, char (&buffer)[kPathSize]);
};

// Extracts without a password; when the entry needs one, tries the remembered password
// and asks for another for as long as a try fails with a wrong-password code (3 or 9).
// Cancel at the prompt gives vorx_PasswordRequired; so does a dialog that cannot be
// shown, since asking again could only fail again.
vorx_Error RunPasswordProtocol(const PasswordProtocolOps& ops);

// Title and subtitle painted in the wizard's header band for each page.
struct PageTexts {
    const char* title;
    const char* subtitle;
};
PageTexts PageTextsOf(int page);

}  // namespace sfx
