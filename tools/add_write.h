// vorx a: the entries written in order while their blocks are compressed side by side.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/add_inputs.h"
#include "tools/console.h"
#include "writer/archive_writer.h"

namespace tool {

// One entry to write: an input file, read at its turn, or bytes held in memory.
struct EntrySource {
    vorx::EntryOptions options;  // its encoder is not used
    const Input* input = nullptr;
    std::string memory;  // without an input
};

struct WriteOutcome {
    int exitCode = 0;     // 0, 1 (files left out), or the code of the failure
    std::string failure;  // what stopped the archive; empty when it is complete
    uint64_t files = 0;   // entries from input files written
    uint64_t bytes = 0;   // their bytes
};

// Writes `entries` into `writer` (begun, not finished) in their order, compressed at
// `level` on `threads` threads. A file left out is reported as it comes (exit code 1); a
// file that changed while it was read, a read or write failure and the interrupt key stop
// everything (the caller abandons the archive). `archive` names the output in messages.
WriteOutcome WriteEntries(const std::vector<EntrySource>& entries, int level, unsigned threads,
                          vorx::ArchiveWriter* writer, Progress* progress,
                          const std::string& archive);

}  // namespace tool
