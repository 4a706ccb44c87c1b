// Whether a file that does not open as an archive, or whose names cannot all be read, is
// the front part of a longer one: a download or a copy cut short. Such a file is to be
// fetched again, which is worth telling apart from a file that never held an archive.
#pragma once

#include <cstdint>

namespace vorx {

struct Completeness {
    bool cutShort;      // the file ends before the bytes its own contents promise
    uint64_t length;    // the file's length
    uint64_t promised;  // the least length its contents promise, or kUnknownPromise
};

// The promise of headers that are cut themselves: more than the file, how much unknown.
constexpr uint64_t kUnknownPromise = UINT64_MAX;

// Reads the open file `file`: a program image promises its sections and its signature;
// an archive its records, their data, its directory and its names table.
Completeness CheckCompleteness(int file);

}  // namespace vorx
