// Windows: folders held open while the names below them are walked, and the files made
// in them. Every step is taken from the handle of the folder above (ntdll's NtCreateFile
// with a root directory, looked up at run time), never by a path, so a name above a held
// folder is not looked up again and a link swapped in meanwhile is never passed. Names
// are UTF-16 components without a separator. Shared by the tool's host services and the
// self-extractor; no allocation.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace platform {
namespace held {

// One component of a path: `length` UTF-16 units at `text` (no NUL needed).
struct Name {
    const wchar_t* text;
    size_t length;
};

// Opens the folder at `path`, a path the person chose (a link there is followed), to
// hold it: others may read and write in it but not rename or delete it. Null when it is
// no folder that can be opened.
HANDLE OpenFolderPath(const wchar_t* path);

enum class Step {
    Opened,
    Made,       // it was missing and this call made it
    Link,       // a reparse point (symbolic link, junction, mount point), or not the folder
                // listed under that name in `parent` (another name of it, or a link the
                // system followed): refused
    NotFolder,  // a file has the name
    Failed,
};

// Opens (making it when missing) the folder `name` inside the held folder `parent`,
// never through a reparse point: checked on the handle itself (its attributes), and
// against the parent's listing after the open (the name must list as a folder that is
// no reparse point, under that very name, with the handle's identity), which catches a
// link the system resolved anyway and a name swapped between the open and the check.
// On Opened and Made `*out` holds it as OpenFolderPath does. Without `make` a missing
// folder fails.
Step OpenSubfolder(HANDLE parent, Name name, HANDLE* out, bool make = true);

// Opens the file `name` in the held `folder` to read it, never through a reparse point,
// checked as OpenSubfolder checks a folder: Opened (`*out` holds it; others may read and
// write it meanwhile), Link, NotFolder when the name is a folder, Failed.
Step OpenFileToRead(HANDLE folder, Name name, HANDLE* out);

struct Status {
    bool exists;
    bool folder;
    bool identified;  // `id` holds its identity
    uint64_t id;      // its identity on the volume, as IdOf tells
    uint64_t size;
    uint64_t writeTime;  // FILETIME ticks
    uint32_t attributes;
};
// What `name` in `folder` is, as opened without following a reparse point. A name that
// exists but cannot be asked (no right to) counts as an existing file.
Status StatusOf(HANDLE folder, Name name);

// Creates the file `name` in `folder` exclusively (nothing of that name is opened, not
// even a link to a missing file), for writing and with the right to rename or remove it
// through the handle; others may read it meanwhile. The file must then list under that
// very name (a file system that keeps another name, such as a Linux one under Wine that
// cuts a long name, would let two names meet in one file): otherwise it is removed
// again. Null on failure, with `*taken` (may be null) telling that the name exists.
HANDLE CreateFileIn(HANDLE folder, Name name, bool* taken);
// Gives the open `file` (opened with the right to delete) the name `name` in `folder`,
// replacing a file (or a link) of that name when `replace` (never what a link points
// to), failing on one otherwise. Afterwards the name in `folder` is checked to be the
// file; where it is not, the file is removed and the call fails.
bool RenameOpenFile(HANDLE file, HANDLE folder, Name name, bool replace);
// Marks the open `file` to be removed when its last handle closes.
bool RemoveOpenFile(HANDLE file);

// The identity of the open `file` on its volume (the file system's file number): two
// names with one identity are one file. False when the system cannot tell it.
bool IdOf(HANDLE file, uint64_t* id);

// Bytes the caller may still write on the volume that holds `folder`.
bool FreeBytes(HANDLE folder, uint64_t* bytes);

}  // namespace held
}  // namespace platform
