// The self-extractor's decisions that need no window: destination settling, the "/q"
// rule, path building and name safety, the folder walk, the run-command resolution,
// the entry password protocol and the overwrite answer. Everything that touches the
// system reaches this module through small function-pointer records, so the rules run
// and are tested on any platform. This header includes no operating-system header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "container/config_block.h"
#include "library/vorx.h"

namespace sfx {

constexpr size_t kPathSize = 256;         // module path, output paths, messages, passwords
constexpr size_t kDestinationSize = 260;  // the destination folder
using vorx::kConfigFieldSize;             // each field of the configuration block

// Appends one backslash unless `path` already ends with one (an empty path becomes "\").
// Returns false and leaves `path` unchanged when the result would not fit `capacity`.
bool AppendBackslash(char* path, size_t capacity);

// Copies `path` up to and including its last backslash into `out`; the empty string
// when there is none. Returns false (and an empty `out`) when the part does not fit.
bool GetDirectoryPart(char* out, size_t capacity, const char* path);

// Writes `before`, `text` and `after` one after the other into `out` (the messages
// with a name or path in them). Returns false, with an empty `out`, when they do not fit.
bool Compose(char* out, size_t capacity, const char* before, const char* text, const char* after);

// True when the command-line tail is exactly "/q", letter case ignored.
bool IsQuietTail(const char* tail);
// True when the command-line tail is exactly "/q /s", letter case ignored: the quiet
// run that shows no window at all.
bool IsSilentTail(const char* tail);

// The folder that holds the executable whose full path is `modulePath`: the drive
// ("C:" when the second character is a colon) followed by the directory, up to and
// including the last slash or backslash. Returns false when it does not fit.
bool ModuleFolderOf(const char* modulePath, char* out, size_t capacity);

// ExpandEnvironmentStrings: returns the size needed including the NUL, 0 on failure,
// kUnrepresentable when the expansion holds characters that the ANSI code page cannot
// represent exactly (such a path would name another folder).
using ExpandFn = uint32_t (*)(void* context, const char* source, char* destination, uint32_t size);
constexpr uint32_t kUnrepresentable = 0xFFFFFFFFu;

// Settles the configured destination in place: an empty text becomes `moduleFolder`;
// any other text is replaced by its expansion when that succeeds and fits the field,
// and is kept as written otherwise. Returns false, with an empty destination, when the
// expansion cannot be represented in the code page.
bool SettleDestination(char (&destination)[kConfigFieldSize], const char* moduleFolder,
                       ExpandFn expand, void* context);

// True when the entry `name`, in code page `codePage` (the system's ANSI code page),
// may be written below the destination: the one name rule of container/name_policy.h,
// which keeps every name below the destination and away from devices and from names
// Windows would change.
bool IsSafeEntryName(const char* name, unsigned codePage);

// Output path = destination, a backslash unless it ends with one, then the entry name.
// Returns vorx_Success, or vorx_InvalidArgument when the path does not fit `capacity`.
vorx_Error BuildOutputPath(char* out, size_t capacity, const char* destination, const char* name);

// What the folder walk finds at a path.
enum class FolderState {
    Missing,  // nothing by that name, or something that is not a folder
    Folder,   // an ordinary folder
    Link,     // a reparse point: a junction, a symbolic link or a mount point
};

// The system operations of the folder walk.
struct DirectoryOps {
    void* context;
    FolderState (*Probe)(void* context, const char* path);
    bool (*Create)(void* context, const char* path);  // creates one folder
};

enum class FolderWalk {
    Done,
    CannotCreate,  // a missing folder could not be created
    ThroughLink,   // a folder below the destination is a link: nothing may pass it
    TooLong,       // the path does not fit
};

// Creates every missing folder of `folder` (a path ending in a backslash after the
// call, which appends one when needed). The drive's root is never tested or created;
// nor is the "\\server\share\" part of a network path. A folder whose path is longer
// than `trustedLength` (the destination with its backslash) must not be a link, since
// a link would send the files elsewhere; the destination and the folders above it are
// the person's choice and may be. On CannotCreate and ThroughLink `folder` is cut
// after the folder at fault.
FolderWalk EnsureDirectory(char* folder, size_t capacity, size_t trustedLength,
                           const DirectoryOps& ops);

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

// Records that the entry `name` was written (or kept) in the destination. Names compare
// as Windows compares file names of ASCII letters (case ignored; "/" in the command
// stands for "\").
void NoteWrittenEntry(RunCandidates& candidates, const char* runAfterExtract, const char* name);

// Finds the program of `runAfterExtract` in `destination`. A quoted start names the
// program up to the closing quote; otherwise the program is the LONGEST blank-separated
// prefix that is a written entry, taken as written or else with ".exe" appended. The
// command line is the quoted full path of the program followed by a blank and the rest
// of the text, which are its arguments; `program` receives the full path alone.
RunCommand ResolveRunCommand(const char* destination, const char* runAfterExtract,
                             const RunCandidates& candidates, char* program, size_t programCapacity,
                             char* commandLine, size_t capacity);

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
