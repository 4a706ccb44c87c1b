// The self-extractor maker: a copy of the stub with its configuration block filled in,
// followed directly by the archive. The block (container/config_block.h) is found
// through the stub's PE headers; it carries no marker bytes of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "container/config_block.h"

namespace vorx {

// What the self-extractor is told: the destination it proposes (may hold %VARIABLE%
// references; empty: the folder that holds the self-extractor) and the command it runs
// from the destination afterwards (empty: nothing).
struct SfxConfig {
    std::string destination;
    std::string runAfterExtract;
};

// Finds the configuration block of a stub image: its file offset. False, with a message
// in `error`, when the image is no PE file or has no writable section of that name that
// holds the whole block.
bool FindConfigBlock(const uint8_t* image, size_t size, uint64_t* offset, std::string* error);

// True when `image` contains an archive signature anywhere (the stub itself never does).
bool CarriesArchive(const uint8_t* image, size_t size);

// Turns a stub image into the front part of a self-extractor: refuses an image that
// already carries an archive, finds the block and fills both fields (the rest of the
// block is zeroed). False, with a message, on any refusal; `stub` is then unchanged.
bool FillConfigBlock(std::vector<uint8_t>& stub, const SfxConfig& config, std::string* error);

// Reads the stub at `stubPath` and fills its block: the bytes that go in front of the
// archive.
bool PrepareStub(const char* stubPath, const SfxConfig& config, std::vector<uint8_t>* out,
                 std::string* error);

}  // namespace vorx
