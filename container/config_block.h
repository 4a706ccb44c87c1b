// The self-extractor's configuration block: 512 bytes in a writable PE section of their
// own, shipped in the stub and filled in by the self-extractor maker. The maker finds
// the section by name in the PE headers; the block carries no marker, length or
// checksum. Both the stub and the maker take the layout from here, and the writer the
// limits of what the stub takes.
#pragma once

#include <cstddef>

// Name of the PE section that holds the block (at most 8 characters). A macro, because
// the stub names its section in an attribute, which takes a string literal only.
#define VORX_CONFIG_SECTION ".sfxcfg"

namespace vorx {

constexpr char kConfigSectionName[] = VORX_CONFIG_SECTION;
constexpr size_t kConfigFieldSize = 256;  // each field: at most 255 bytes and the NUL
constexpr size_t kMaxConfigText = kConfigFieldSize - 1;

struct ConfigBlock {
    char destination[kConfigFieldSize];      // may hold %VARIABLE% references; empty: the
                                             // folder that holds the self-extractor
    char runAfterExtract[kConfigFieldSize];  // started from the destination; empty: nothing
};

// Passwords the self-extractor's dialog takes: at least 6 and at most 63 bytes (its
// edit field takes no more).
constexpr size_t kMinStubPasswordLength = 6;
constexpr size_t kMaxStubPasswordLength = 63;

constexpr size_t kConfigBlockSize = sizeof(ConfigBlock);
constexpr size_t kConfigDestinationOffset = offsetof(ConfigBlock, destination);
constexpr size_t kConfigRunOffset = offsetof(ConfigBlock, runAfterExtract);
static_assert(kConfigBlockSize == 512 && kConfigRunOffset == 256,
              "the stub's block layout is fixed");

}  // namespace vorx
