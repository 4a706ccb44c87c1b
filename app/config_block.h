// The configuration block: 512 writable bytes in a section of their own, filled in by
// whoever makes a self-extractor from this stub. The maker finds the section by name in
// the PE headers; the block carries no marker, length or checksum.
#pragma once

struct ConfigBlock {
    char DefaultDestination[256];  // NUL-terminated; may hold %VARIABLE% references
    char RunAfterExtract[256];     // NUL-terminated; empty: nothing is started
};
static_assert(sizeof(ConfigBlock) == 512);

// Name of the PE section that holds the block (at most 8 characters).
#define SFX_CONFIG_SECTION ".sfxcfg"

extern ConfigBlock g_ConfigBlock;
