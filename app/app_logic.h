// The self-extractor's decisions that need no window: destination settling, the "/q"
// rule, path building and name safety, the folder walk, the run-command resolution,
// the entry password protocol and the process exit code. Everything that touches the
// system reaches this module through small function-pointer records, so the rules run
// and are tested on any platform. This header includes no operating-system header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "library/vorx.h"

namespace sfx {

constexpr size_t kPathSize = 256;         // module path, output paths, messages, passwords
constexpr size_t kDestinationSize = 260;  // the destination folder
constexpr size_t kConfigFieldSize = 256;  // each field of the configuration block

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

// ExpandEnvironmentStringsA: returns the size needed including the NUL, 0 on failure.
using ExpandFn = uint32_t (*)(void* context, const char* source, char* destination,
                              uint32_t size);

// Settles the configured destination in place: an empty text becomes `moduleFolder`;
// any other text is replaced by its expansion when that succeeds and fits the field,
// and is kept as written otherwise.
void SettleDestination(char (&destination)[kConfigFieldSize], const char* moduleFolder,
                       ExpandFn expand, void* context);

// True when writing the entry `name` below a destination folder stays below it: the
// name is not empty, does not start with a separator, holds no drive or stream colon
// and no component made of two or more dots (with or without trailing blanks). Both
// "\" and "/" count as separators, as they do for Windows.
bool IsSafeEntryName(const char* name);

// Output path = destination, a backslash unless it ends with one, then the entry name.
// Returns 0, or vorx_InvalidArgument when the path does not fit `capacity`.
vorx_Error BuildOutputPath(char* out, size_t capacity, const char* destination,
                           const char* name);

// The system operations of the folder walk.
struct DirectoryOps {
    void* context;
    bool (*Exists)(void* context, const char* path);  // a folder by that name exists
    bool (*Create)(void* context, const char* path);  // creates one folder
};

// Creates every missing folder of `folder` (a path ending in a backslash after the
// call, which appends one when needed). The drive's root is never tested or created;
// nor is the "\\server\share\" part of a network path. Returns false at the first
// folder that cannot be created, or when the path does not fit `capacity`.
bool EnsureDirectory(char* folder, size_t capacity, const DirectoryOps& ops);

// Outcome of resolving the command to run after the extraction.
enum class RunCommand {
    Ready,     // commandLine holds the quoted program path and its arguments
    NoProgram, // no existing file names the program: nothing is started
    TooLong,   // the command line would not fit: refused
};

// True when `path` names an existing file (not a folder).
using FileExistsFn = bool (*)(void* context, const char* path);

// Finds the program of `runAfterExtract` in `destination`. A quoted start names the
// program up to the closing quote; otherwise the program is the shortest blank-separated
// prefix that names an existing file in the destination, tried as written and with
// ".exe" appended. The command line is the quoted full path of the program followed by
// a blank and the rest of the text, which are its arguments.
RunCommand ResolveRunCommand(const char* destination, const char* runAfterExtract,
                             FileExistsFn exists, void* context, char* commandLine,
                             size_t capacity);

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
