// Writes the seed corpus of the archive fuzz targets into the folder given as argument:
// small archives of every shape (carriers, plain and encrypted names tables and
// entries, many entries, long names, names in the padding, stored and compressed
// entries of one block and many, text, noise and runs), entries of hand-made blocks
// that reach the edges of the format (trees of one symbol, no lengths), and a wrong
// entry count (the conformance sample adds the older format and damaged tables). Encrypted parts
// use the targets' password.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

using vorx::Bytes;
using vorx::test::RandomBytes;
using vorx::test::WordText;
using Entry = vorx::test::TestEntry;

struct Seed : vorx::test::TestArchive {
    std::string file;
    bool encryptEntries = false;
};

bool Write(const std::string& folder, Seed seed) {
    uint8_t kind = 0;
    for (Entry& e : seed.entries) {
        e.timeKind = static_cast<uint8_t>(1 + kind++ % 3);
        e.time = 1600000000u + kind;
        if (seed.encryptEntries) e.password = "fuzz";
        if (!e.encoder) e.encoder = vorx::StoredBlockEncoder(32);
    }
    std::string error;
    if (vorx::test::WriteTestArchive(folder + "/" + seed.file, seed, &error)) return true;
    std::fprintf(stderr, "%s: %s\n", seed.file.c_str(), error.c_str());
    return false;
}

// A block from explicit tables and steps: four literals, then a match of the marker
// length (no length table) or of a one-symbol length tree.
Entry EdgeEntry(bool noLengths) {
    streams::BlockPlan plan;
    plan.literals = {{1, 'a'}};
    plan.slots = {{1, 0}};
    plan.flags = {{2, 0}, {1, 1}};
    if (!noLengths) plan.lengths = {{1, 3}};
    plan.stepCount = 5;
    streams::BlockWriter w(plan);
    w.Flag(0);
    for (int i = 0; i < 4; ++i) w.Literal('a');
    w.Flag(1);
    if (!noLengths) w.Length(3);
    w.Slot(0);
    uint32_t bits = 0;
    const Bytes body = w.Finish(&bits);
    return Entry("edge", Bytes(noLengths ? 4 + 100000 : 7, 'a'), streams::RawBlock(1, bits, body));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    std::filesystem::create_directories(folder);
    const auto packed = [](const std::string& name, Bytes data, size_t chunk) {
        Entry e(name, std::move(data));
        e.encoder = vorx::test::PackingEncoder(chunk);
        return e;
    };

    std::vector<Seed> seeds(18);
    seeds[0].file = "basic.vorx";
    seeds[0].entries = {{"readme.txt", RandomBytes(40, 1)},
                        {"dir\\data.bin", RandomBytes(100, 2)},
                        {"$comments$", RandomBytes(9, 3)}};
    for (size_t i : {1, 2, 3, 4, 5}) seeds[i] = seeds[0];
    seeds[1].file = "carrier.vorx";
    seeds[1].carrier = WordText(300, 4);
    seeds[1].carrier.insert(seeds[1].carrier.begin() + 10, {'V', 'O', 'R', 'X'});
    seeds[2].file = "encrypted-names.vorx";
    seeds[2].directory.password = "fuzz";
    seeds[3].file = "encrypted-entries.vorx";
    seeds[3].encryptEntries = true;
    seeds[4].file = "ghost.vorx";
    seeds[4].directory.padding = {'g', 'h', 'o', 's', 't', 0};
    seeds[5].file = "wrong-count.vorx";
    seeds[5].directory.entryCount = 5;
    seeds[6].file = "many.vorx";
    for (unsigned i = 0; i < 40; ++i)
        seeds[6].entries.push_back({"f" + std::to_string(i), RandomBytes(i % 7, i)});
    seeds[7].file = "long-names.vorx";
    seeds[7].entries = {{std::string(239, 'a'), RandomBytes(3, 5)},
                        {std::string(250, 'b'), RandomBytes(3, 6)},
                        {std::string(255, 'c'), RandomBytes(3, 7)},
                        {"", RandomBytes(2, 8)},
                        {"short", RandomBytes(1, 9)}};
    seeds[8].file = "empty.vorx";
    seeds[9].file = "multi-block.vorx";
    seeds[9].entries = {{"blocks.bin", RandomBytes(200, 10)}, {"tail", RandomBytes(17, 11)}};
    seeds[9].entries[0].encoder = vorx::StoredBlockEncoder(16);
    seeds[10].file = "text.vorx";
    seeds[10].entries = {packed("text.txt", WordText(3000, 1), 1 << 20)};
    seeds[11].file = "blocks.vorx";
    seeds[11].entries = {packed("blocks", WordText(6000, 2), 700)};
    seeds[12].file = "mixed.vorx";
    seeds[12].entries = {
        packed("mixed", RandomBytes(1500, 3), 300), {"empty", {}}, {"one", {0x41}}};
    seeds[13].file = "secret.vorx";
    seeds[13].entries = {packed("secret", WordText(2500, 4), 900),
                         packed("plain", WordText(700, 5), 1 << 20)};
    seeds[13].encryptEntries = true;
    seeds[13].directory.password = "fuzz";
    seeds[14].file = "runs.vorx";
    Bytes runs(20000, 'r');
    for (size_t i = 0; i < runs.size(); i += 997) runs[i] = static_cast<uint8_t>(i);
    seeds[14].entries = {packed("runs", runs, 1 << 20),
                         packed("noise", RandomBytes(3000, 6), 1 << 20)};
    seeds[15].file = "many-packed.vorx";
    for (int i = 0; i < 24; ++i)
        seeds[15].entries.push_back(
            packed("dir\\file" + std::to_string(i), WordText(60 + 13 * i, 10 + i), 1 << 20));
    seeds[16].file = "edge0.vorx";
    seeds[16].entries = {EdgeEntry(true)};
    seeds[17].file = "edge1.vorx";
    seeds[17].entries = {EdgeEntry(false)};

    for (const Seed& seed : seeds)
        if (!Write(folder, seed)) return 1;
    std::printf("%zu seeds written to %s\n", seeds.size(), folder.c_str());
    return 0;
}
