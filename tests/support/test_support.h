// Helpers shared by the test suites: temporary folders, whole-file reads and writes,
// archives built with the writer, and handles that close themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/vorx.h"
#include "tests/support/damaging_writer.h"
#include "writer/archive_writer.h"

namespace vorx::test {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path of a file inside the folder.
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

Bytes ReadFile(const std::string& path);
std::string ReadText(const std::string& path);  // the same bytes as a string
// A file's last-write time in seconds since 1970 (UTC), or -1 when it cannot be read.
int64_t ModificationTime(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
void WriteFile(const std::string& path, const std::string& bytes);
Bytes ToBytes(const std::string& s);
// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t length, uint32_t seed);
// `length` bytes of text made of a few words in an order `seed` fixes: compressible like
// prose, different for each seed.
Bytes WordText(size_t length, uint32_t seed);

// The product's compressor (default level) as a block encoder of `chunkSize`-byte
// chunks; it lives as long as the process.
BlockEncoder PackingEncoder(size_t chunkSize = kDefaultChunkSize);

// WriteTestArchive that fails the current test on error.
void WriteArchive(const std::string& path, const TestArchive& archive);

// An open archive handle, closed at the end of the scope.
class Handle {
public:
    Handle() = default;
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    vorx_Error Open(const std::string& path, const char* password = nullptr, uint32_t mode = 2);
    void Close();
    vorx_Stream* get() const { return stream_; }
    operator vorx_Stream*() const { return stream_; }

private:
    vorx_Stream* stream_ = nullptr;
};

// Opens and closes at once; returns the open's result and whether the handle was null.
struct OpenOutcome {
    vorx_Error code;
    bool nullHandle;
};
OpenOutcome TryOpen(const std::string& path, const char* password = nullptr, uint32_t mode = 2);

// Sets the runtime's time zone (a TZ string such as "UTC0" or "EST5") for this process.
void SetTimeZone(const char* tz);

}  // namespace vorx::test
