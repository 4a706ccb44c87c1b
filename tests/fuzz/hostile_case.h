// The extraction hunt: archives built from hostile parts, a destination folder with
// links and other things planted in it, and the invariants every extraction must keep
// whatever the archive and the folder hold:
//  - nothing outside the destination changes (the folder the planted links lead to, the
//    folders beside the destination, the archive itself);
//  - every file written holds exactly the bytes of one entry, at the place its name
//    gives, and no entry is written twice or into another entry's file;
//  - an entry that lies about itself (size, checksum), is encrypted under another
//    password or has a name no extraction may write is never written;
//  - an entry that was not written makes the exit code non-zero (and the tool's own
//    summary counts it);
//  - nothing is left behind but the entries' files, and what is printed holds no raw
//    control characters;
//  - the run ends.
// The choices come from a seeded generator (the hunt program) or from the fuzzing
// engine's input bytes (the fuzz target), so a failing case replays from its seed.
// POSIX only: the planted things are made and checked from the Linux side, also when a
// Windows program extracts under Wine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace hunt {

class Choices {
public:
    explicit Choices(uint64_t seed) : random_(seed) {}
    // The fuzzing engine's bytes; zeros once they are used up.
    Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t Below(uint32_t n);  // n >= 1
    // Rare choices are the last value: input bytes that run out (zeros) make plain cases.
    bool OneIn(uint32_t n) { return Below(n) == n - 1; }

private:
    std::mt19937_64 random_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

struct Entry {
    std::string name;  // the stored bytes
    std::string data;  // what its blocks decode to; starts with its tag
    bool encrypted = false, compressed = false;
    std::optional<uint64_t> declaredSize;  // a record that lies about the size
    std::optional<uint32_t> declaredCrc;   // ... or about the checksum
    uint8_t timeKind = 1;                  // the record's time, of any kind and value
    uint64_t time = 1500000000;
};

// What stands in the destination before the extraction: links out of it (to a folder, to
// a file, to nothing), a second name of a file outside it, a file, a folder, a FIFO; the
// destination itself again under a second name (a bind mount, where the hunt may mount),
// so that two names of the archive lead to one file.
enum class PlantKind { FolderLink, FileLink, DanglingLink, HardLink, File, Folder, Fifo, Mount };

struct Plant {
    PlantKind kind;
    std::vector<std::string> path;  // components below the destination (UTF-8)
};

struct Case {
    unsigned codePage = 1252;
    std::vector<Entry> entries;
    std::vector<Plant> plants;
    std::optional<std::string> password;  // given to the extraction
    bool yes = false;                     // replace existing files without asking
    bool encryptNames = false;            // the names table is encrypted too
    unsigned jobs = 1;
};

// An entry `index` whose bytes are its tag (a file that holds it is that entry's) and
// `length` bytes `fill`.
Entry Plain(const std::string& name, size_t index, size_t length, char fill);
// A file's bytes (none when it cannot be read; never through a link, never waiting).
std::string ReadAll(const std::string& path);

// A case over the names of one of `codePages`, with one to `maxEntries` entries; one
// name piece in `rarity` is hostile, and about one entry in 4 x `rarity` lies.
Case MakeCase(Choices& choices, const std::vector<unsigned>& codePages, size_t maxEntries = 6,
              uint32_t rarity = 4);
std::string Describe(const Case& c);  // for a report

// Writes the case's archive, behind `carrier` (a prepared stub) when it is not empty.
bool WriteArchive(const Case& c, const std::string& path, const std::vector<uint8_t>& carrier,
                  std::string* error);

// A fresh folder in `parent` holding the destination `out` (with the case's plants), the
// folder `outside` the planted links lead to, and the archive; removed with this object.
// `snapshot` is to be taken after the archive was written: everything that must stay as
// it is (all but the destination).
struct Scene {
    explicit Scene(const Case& c, const std::string& parent = "/tmp");
    ~Scene();
    Scene(const Scene&) = delete;
    std::string Current() const;

    bool ok = false;
    std::string root, out, archive, snapshot;
    std::vector<std::string> mounts;  // unmounted with this object
};

struct Outcome {
    int exitCode = 0;
    bool timedOut = false;
    std::string output;       // standard output and error
    bool counts = false;      // the tool: its summary line must match what it wrote
    bool ignoreCase = false;  // Windows under Wine: names compare without case
    bool race = false;        // folders and files were swapped meanwhile: where files lie is loose
};

// The invariants broken, in words; empty when the extraction kept them all.
std::vector<std::string> Check(const Case& c, const Scene& scene, const Outcome& outcome);

}  // namespace hunt
