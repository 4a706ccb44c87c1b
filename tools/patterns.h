// Which entries a command takes: the patterns of l, t and x, the exclusions (-x) of every
// command, and `vorx a`'s list files.
//
// A pattern is matched against a stored name in UTF-8 with '\' between folders, letter
// case as Windows compares names (vorx::WindowsNameKey): `*` stands for any run of
// characters, folders included, `?` for one character that is not a separator, '/' and
// '\' both separate folders, and a pattern that matches a folder takes everything below it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/commands.h"

namespace tool {

class Pattern {
public:
    // `utf8`: the pattern as given, in UTF-8.
    explicit Pattern(const std::string& utf8);
    // Whether the pattern matches `name` (UTF-8, '\' between folders) or one of its folders.
    bool Matches(const std::string& name) const;

private:
    std::u32string key_;  // the pattern's Windows name key, '/' made '\'
};

// Include patterns (none: every name) and exclusions, with the include patterns that
// selected something so far.
class NameFilter {
public:
    // Texts in UTF-8.
    NameFilter(const std::vector<std::string>& include, const std::vector<std::string>& exclude);
    // Whether `name` (UTF-8, '\' between folders) is taken: an include pattern matches it
    // (or there is none) and no exclusion does. Counts the include patterns that match.
    bool Takes(const std::string& name);
    // Whether an exclusion matches `name`: `vorx a` leaves a folder out unread.
    bool Excludes(const std::string& name) const;
    // The positions of the include patterns that matched no name so far.
    std::vector<size_t> Unmatched() const;

private:
    std::vector<Pattern> include_, exclude_;
    std::vector<bool> matched_;
};

// The entries of `list` that the patterns of l, t or x take (every entry without
// patterns) and no -x leaves out. Reports every pattern that took no entry, and sets
// selectExit to kExitWarning then. (The command line checked that every pattern is text.)
EntryList SelectEntries(const Options& o, EntryList list);

// Host text (the command line, a list file) as the UTF-8 that names are compared in.
// False, with the reason, when it is no text the host could have given.
bool HostToUtf8(const std::string& host, std::string* utf8, std::string* error);

// A stored name in UTF-8, converted from code page `codePage` (bytes the code page does
// not define stay as they are, and match only `*`).
std::string StoredToUtf8(const std::string& stored, unsigned codePage);

// The paths of a list file: one per line, taken exactly as written (blanks are part of a
// name), a carriage return before the line feed and a UTF-8 byte-order mark at the start
// dropped, empty lines skipped. False, with the reason, when the file cannot be read.
bool ReadListFile(const std::string& path, std::vector<std::string>* paths, std::string* error);

// The bytes of a file of at most `limit` bytes, opened as named (a link or a pipe such as
// /dev/stdin is what the person asked for) unless `regularOnly`; false, with the reason,
// when it cannot be read.
bool ReadSmallFile(const std::string& path, uint64_t limit, std::string* bytes, std::string* error,
                   bool regularOnly = false);

}  // namespace tool
