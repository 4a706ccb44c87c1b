// SHA-256 (FIPS 180-4), for comparing decoded bytes with the digests of a manifest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorx::test {

// The digest of `length` bytes as 64 lowercase hexadecimal digits.
std::string Sha256Hex(const void* data, size_t length);

}  // namespace vorx::test
