// What an operation of the reading layers (container and codec) reports: 0 for
// success, otherwise why an archive, a record or a block could not be read. The values
// are those of the library's public result codes, which hand them on unchanged; the
// library checks that the two agree.
#pragma once

#include <cstdint>

namespace vorx {

using Result = int32_t;

constexpr Result kSuccess = 0;
constexpr Result kCorruptArchive = 3;     // the bytes break the archive's layout rules
constexpr Result kNotFound = 4;           // no signature, no such name
constexpr Result kCrcMismatch = 9;        // checksum or password check failed
constexpr Result kPasswordRequired = 10;  // encrypted names table and no password
constexpr Result kOutOfMemory = 11;
constexpr Result kReadFailed = 13;  // the file ended or could not be read

}  // namespace vorx
