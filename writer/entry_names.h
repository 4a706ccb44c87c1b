// The rules for what an archive may hold, shared by the tool's `a` and `x`:
// entry names as stored (bytes of a Windows code page, '\' between folders), the
// names an extraction may create, passwords the self-extractor accepts, and the
// comment text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorx {

// Longest stored name: every name up to this length can be read back by index,
// wherever it lies in the names table.
constexpr size_t kMaxEntryNameBytes = 239;
// Passwords the self-extractor's dialog takes: at least 6 and at most 63 characters.
constexpr size_t kMinPasswordLength = 6;
constexpr size_t kMaxPasswordLength = 63;
// The configuration block's fields hold at most this many bytes.
constexpr size_t kMaxConfigText = 255;

// Why a stored name cannot be written for a user's file, or "" when it can: empty
// name or component, "." or "..", a leading separator, a drive, '/' or a character no
// Windows file name holds, more than kMaxEntryNameBytes bytes, or the comment's name.
std::string EntryNameProblem(const std::string& name);

// Splits a stored name into the folder and file names an extraction creates below its
// output folder. False, with the reason, for any name that could reach outside it:
// absolute names, drives, "." or ".." components, empty components, control characters
// or characters no Windows file name holds. Both '\' and '/' separate components.
bool SplitForExtraction(const std::string& name, std::vector<std::string>* parts,
                        std::string* reason);

// Why a password (bytes in the archive's code page) is refused, or "".
std::string PasswordProblem(const std::string& password);

// Comment text as stored: every line feed not preceded by a carriage return gets one.
std::string CommentForArchive(const std::string& text);

}  // namespace vorx
