// The one rule for entry names: which stored names may become files. The writer and
// the tool's `a` refuse to store a name it refuses; the tool's `x` and the
// self-extractor refuse to write it. The name is judged as stored, bytes of a Windows
// code page with '\' between folders, character by character: in a double-byte code
// page a trail byte is part of its character and never a separator.
//
// No operating-system header, no allocation: the self-extractor uses it as it is.
#pragma once

#include <cstddef>

namespace vorx {

// Longest stored name: every name up to this length can be read back by index,
// wherever it lies in the names table.
constexpr size_t kMaxEntryNameBytes = 239;

enum class NameProblem {
    None,
    Empty,           // no bytes at all
    TooLong,         // more than kMaxEntryNameBytes bytes
    CodePage,        // a code page whose ASCII bytes do not all mean ASCII
    BadSequence,     // bytes that are no character of the code page
    Slash,           // '/', which Windows takes for a separator
    EmptyComponent,  // a leading, trailing or doubled '\'
    Control,         // a control character
    Reserved,        // one of < > : " | ? *
    TrailingDot,     // a component that ends in '.' or a blank ("." and ".." among them)
    Device,          // a component that Windows opens as a device (NUL, COM1, ...)
};

// True for the code pages names may be stored in: those in which every byte below 0x80
// is the ASCII character and whose multi-byte characters this rule knows (the
// single-byte Windows and ISO 8859 code pages, 932, 936, 949, 950 and 65001).
bool IsNameCodePage(unsigned codePage);

// The first rule `name` (of `length` bytes, in code page `codePage`) breaks, or None.
NameProblem CheckEntryName(const char* name, size_t length, unsigned codePage);

// The problem in words, for messages ("" for None).
const char* NameProblemText(NameProblem problem);

// Where the component of `name` that starts at `start` ends: the offset of the next
// separator, or `length`. Meant for names CheckEntryName accepts.
size_t ComponentEnd(const char* name, size_t length, size_t start, unsigned codePage);

}  // namespace vorx
