// Helpers shared by the test suites.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>

#include "writer/compressor.h"

namespace vorx::test {

BlockEncoder PackingEncoder(size_t chunkSize) {
    static std::map<size_t, std::unique_ptr<Compressor>> pool;
    std::unique_ptr<Compressor>& c = pool[chunkSize];
    if (!c) c = std::make_unique<Compressor>(kDefaultLevel, chunkSize);
    return c->AsBlockEncoder();
}

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::mt19937_64 random(static_cast<uint64_t>(now) ^ (uint64_t{counter++} << 48));
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("vorx-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) path_ = candidate.string();
    }
    if (path_.empty()) ADD_FAILURE() << "cannot create a temporary folder";
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
    return (fs::path(path_) / name).string();
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << "cannot write " << path;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    WriteFile(path, ToBytes(bytes));
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes RandomBytes(size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(length);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

Bytes WordText(size_t length, uint32_t seed) {
    static const char* const kWords[] = {"archive ", "vorx ",  "block ", "the ",
                                         "of ",      "slot\n", "data "};
    Bytes out;
    uint32_t x = seed;
    while (out.size() < length) {
        x = x * 1103515245u + 12345u;
        for (const char* w = kWords[(x >> 16) % 7]; *w; ++w)
            out.push_back(static_cast<uint8_t>(*w));
    }
    out.resize(length);
    return out;
}

void WriteArchive(const std::string& path, const TestArchive& archive) {
    std::string error;
    ASSERT_TRUE(WriteTestArchive(path, archive, &error)) << error;
}

vorx_Error Handle::Open(const std::string& path, const char* password, uint32_t mode) {
    Close();
    return vorx_OpenStream(&stream_, path.c_str(), password, mode);
}

void Handle::Close() {
    if (stream_) {
        EXPECT_EQ(vorx_CloseStream(stream_), vorx_Success);
    }
    stream_ = nullptr;
}

OpenOutcome TryOpen(const std::string& path, const char* password, uint32_t mode) {
    vorx_Stream* stream = reinterpret_cast<vorx_Stream*>(uintptr_t{1});  // must be overwritten
    const vorx_Error code = vorx_OpenStream(&stream, path.c_str(), password, mode);
    const bool isNull = stream == nullptr;
    if (code == vorx_Success && stream) vorx_CloseStream(stream);
    return {code, isNull};
}

void SetTimeZone(const char* tz) {
#ifdef _WIN32
    _putenv_s("TZ", tz);
    _tzset();
#else
    setenv("TZ", tz, 1);
    tzset();
#endif
}

int64_t ModificationTime(const std::string& path) {
    std::error_code ec;
    const fs::file_time_type time = fs::last_write_time(path, ec);
    if (ec) return -1;
    const auto since = std::chrono::file_clock::to_sys(time).time_since_epoch();
    return std::chrono::floor<std::chrono::seconds>(since).count();
}

}  // namespace vorx::test
