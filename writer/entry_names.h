// What an archive may hold, for the tool's `a` and `x`: entry names as stored (bytes
// of a Windows code page, '\' between folders) and the names an extraction creates,
// both by the one name rule of container/name_policy.h; names that would be one file
// on Windows; passwords the self-extractor accepts; and the comment text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "container/name_policy.h"

namespace vorx {

// Why a stored name (in code page `codePage`) cannot be stored for a user's file, or
// "": what the name rule of container/name_policy.h refuses, and the comment's name.
std::string EntryNameProblem(const std::string& name, unsigned codePage);

// Splits a stored name into the folder and file names an extraction creates below its
// output folder. False, with the reason, for every name the name rule refuses.
bool SplitForExtraction(const std::string& name, unsigned codePage, std::vector<std::string>* parts,
                        std::string* reason);

// The form in which Windows compares a name (UTF-8, '\' between folders) with the
// names beside it: letters in upper case, for ASCII and the letters of the code pages
// names are stored in (Latin, Greek, Cyrillic, fullwidth). Two names with one key are
// one file on Windows.
std::string WindowsNameKey(const std::string& utf8);

// Why a password (bytes in the archive's code page) is refused, or "": one the
// self-extractor's dialog would not take (container/config_block.h).
std::string PasswordProblem(const std::string& password);

// Comment text as stored: every line feed not preceded by a carriage return gets one.
std::string CommentForArchive(const std::string& text);

}  // namespace vorx
