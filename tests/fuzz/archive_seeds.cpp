// Writes the seed corpus of the archive fuzz target into the folder given as argument:
// small archives of every shape the writer makes (carriers, plain and encrypted names
// tables and entries, many entries, long names, names in the padding, the older format,
// multi-block entries) and a few damaged ones.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/damaging_writer.h"

namespace {

using vorx::Bytes;

struct Seed {
    std::string file;
    Bytes carrier;
    uint32_t version = vorx::kVersionFormat2;
    std::vector<std::pair<std::string, Bytes>> entries;
    std::optional<std::string> entryPassword;
    vorx::test::DamagedDirectory directory;
    size_t chunk = 32;
};

Bytes Pattern(size_t length, unsigned seed) {
    Bytes b(length);
    for (size_t i = 0; i < length; ++i) b[i] = static_cast<uint8_t>((i * 31 + seed * 7) ^ (i >> 3));
    return b;
}

bool Write(const std::string& folder, const Seed& seed) {
    vorx::test::DamagingWriter writer;
    bool ok = writer.Create(folder + "/" + seed.file) &&
              writer.WriteCarrier(seed.carrier.data(), seed.carrier.size()) &&
              writer.BeginArchive(seed.version);
    uint8_t kind = 0;
    for (const auto& [name, data] : seed.entries) {
        if (!ok) break;
        vorx::EntryOptions entry;
        entry.name = name;
        entry.timeKind = static_cast<uint8_t>(1 + kind++ % 3);
        entry.time = 1600000000u + kind;
        entry.password = seed.entryPassword;
        entry.encoder = vorx::StoredBlockEncoder(seed.chunk);
        ok = writer.AddEntry(entry, data.data(), data.size());
    }
    ok = ok && writer.Finish(seed.directory);
    if (!ok) std::fprintf(stderr, "%s: %s\n", seed.file.c_str(), writer.Error().c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    std::filesystem::create_directories(folder);

    std::vector<Seed> seeds;
    Seed basic;
    basic.file = "basic.vorx";
    basic.entries = {{"readme.txt", Pattern(40, 1)}, {"dir\\data.bin", Pattern(100, 2)}, {"$comments$", Pattern(9, 3)}};
    seeds.push_back(basic);

    Seed carrier = basic;
    carrier.file = "carrier.vorx";
    carrier.carrier = Pattern(300, 4);
    carrier.carrier[10] = 'V';
    carrier.carrier[11] = 'O';
    carrier.carrier[12] = 'R';
    carrier.carrier[13] = 'X';
    seeds.push_back(carrier);

    Seed encryptedNames = basic;
    encryptedNames.file = "encrypted-names.vorx";
    encryptedNames.directory.password = "fuzz";
    seeds.push_back(encryptedNames);

    Seed encryptedEntries = basic;
    encryptedEntries.file = "encrypted-entries.vorx";
    encryptedEntries.entryPassword = "fuzz";
    seeds.push_back(encryptedEntries);

    Seed many;
    many.file = "many.vorx";
    for (unsigned i = 0; i < 40; ++i) many.entries.push_back({"f" + std::to_string(i), Pattern(i % 7, i)});
    seeds.push_back(many);

    Seed longNames;
    longNames.file = "long-names.vorx";
    longNames.entries = {{std::string(239, 'a'), Pattern(3, 5)},
                         {std::string(250, 'b'), Pattern(3, 6)},
                         {std::string(255, 'c'), Pattern(3, 7)},
                         {"", Pattern(2, 8)},
                         {"short", Pattern(1, 9)}};
    seeds.push_back(longNames);

    Seed ghost = basic;
    ghost.file = "ghost.vorx";
    ghost.directory.padding = {'g', 'h', 'o', 's', 't', 0};
    seeds.push_back(ghost);

    Seed empty;
    empty.file = "empty.vorx";
    seeds.push_back(empty);

    Seed older = basic;
    older.file = "older.vorx";
    older.version = vorx::kVersionFormat1;
    seeds.push_back(older);

    Seed multiBlock;
    multiBlock.file = "multi-block.vorx";
    multiBlock.chunk = 16;
    multiBlock.entries = {{"blocks.bin", Pattern(200, 10)}, {"tail", Pattern(17, 11)}};
    seeds.push_back(multiBlock);

    Seed wrongCount = basic;
    wrongCount.file = "wrong-count.vorx";
    wrongCount.directory.entryCount = 5;
    seeds.push_back(wrongCount);

    Seed badTable = encryptedNames;
    badTable.file = "bad-table.vorx";
    badTable.directory.namesLength = 7;
    badTable.directory.trailing = {1, 2, 3};
    seeds.push_back(badTable);

    for (const Seed& seed : seeds)
        if (!Write(folder, seed)) return 1;
    std::printf("%zu seeds written to %s\n", seeds.size(), folder.c_str());
    return 0;
}
