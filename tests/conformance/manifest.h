// The manifest of the conformance sample: for every archive, the results a sound
// reader gives (open, enumeration, look-ups, and the decoding fields, which are kept
// as raw JSON for the suites that check decoding). Every expectation is a set of
// acceptable codes; a set of more than one marks a place the format leaves open.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace vorx::conformance {

struct Expectation {
    std::vector<int> codes;
    bool open = false;  // the format leaves the choice among the codes open
    std::string why;

    bool Accepts(int code) const;
    std::string Describe() const;
};

struct EntryCase {
    uint64_t index = 0;
    std::string name;  // exact bytes
    Expectation enumerate;
    uint32_t attributes = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t crc32 = 0;
    int timeKind = 0;
    uint64_t timeRaw = 0;
    int64_t lastWriteSeconds = 0;
    std::optional<uint64_t> lastWriteTime;  // unset where the result is not settled
    bool encrypted = false;
    nlohmann::json raw;  // every field, decoding expectations included
};

struct LookupCase {
    std::string name;  // exact bytes
    Expectation result;
    // Set when the look-up succeeds and the manifest says what it finds.
    std::optional<uint32_t> attributes;
    std::optional<uint64_t> compressedSize;
    std::optional<uint64_t> uncompressedSize;
    std::optional<uint32_t> crc32;
    nlohmann::json raw;
};

struct ArchiveCase {
    std::string file;  // name inside the sample folder
    std::string path;  // full path
    std::string group;
    std::string label;
    std::optional<uint64_t> archiveStart;
    uint32_t version = 0;
    std::optional<uint64_t> entryCount;
    bool namesEncrypted = false;
    // Passwords as exact bytes; unset means none.
    std::optional<std::string> openPassword;
    std::optional<std::string> wrongPassword;
    std::optional<std::string> equivalentPassword;
    // Results of the open, keyed "no_password", "right_password", "wrong_password",
    // "equivalent_password".
    std::map<std::string, Expectation> open;
    std::vector<EntryCase> entries;
    std::vector<LookupCase> lookups;
    std::optional<uint64_t> outOfRangeIndex;
    std::optional<Expectation> enumerateOutOfRange;
    std::optional<Expectation> enumerateAll;
    nlohmann::json raw;
};

struct Manifest {
    int biasMinutes = 0;
    std::vector<ArchiveCase> archives;
};

// Reads `folder`/manifest.json. Returns false (with a reason) when it is missing or
// malformed.
bool LoadManifest(const std::string& folder, Manifest* manifest, std::string* error);

// An expectation as the manifest writes it: {"codes": [...], "open": ..., "why": ...}.
Expectation ParseExpectation(const nlohmann::json& j);

// A password given as `<key>_hex` in `j`; null (or absent) means none.
std::optional<std::string> Password(const nlohmann::json& j, const std::string& key);

// Decodes a hexadecimal string into bytes.
std::string FromHex(const std::string& hex);

// The sample beside the checkout, loaded once per process.
struct Sample {
    bool loaded = false;
    std::string error;
    Manifest manifest;
};
const Sample& TheSample();

// 0 .. number of archives - 1: the parameters of a test run once per archive.
std::vector<size_t> ArchiveIndices();

// A test name made of the archive's file name (letters and digits kept, the rest '_').
std::string ArchiveTestName(size_t index);

}  // namespace vorx::conformance
