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

struct Entry {
    Entry(std::string n, Bytes d, vorx::BlockEncoder e = vorx::StoredBlockEncoder(32))
        : name(std::move(n)), data(std::move(d)), encoder(e) {}
    std::string name;
    Bytes data;
    vorx::BlockEncoder encoder;
    Bytes raw;  // hand-made data area instead of data (its record claims data's size)
};

struct Seed {
    std::string file;
    std::vector<Entry> entries;
    Bytes carrier;
    bool encryptEntries = false;
    vorx::test::DamagedDirectory directory;
};

bool Write(const std::string& folder, const Seed& seed) {
    vorx::test::DamagingWriter w;
    bool ok = w.Create(folder + "/" + seed.file) &&
              w.WriteCarrier(seed.carrier.data(), seed.carrier.size()) && w.BeginArchive();
    uint8_t kind = 0;
    for (const Entry& e : seed.entries) {
        if (!ok) break;
        vorx::EntryOptions entry;
        entry.name = e.name;
        entry.timeKind = static_cast<uint8_t>(1 + kind++ % 3);
        entry.time = 1600000000u + kind;
        if (seed.encryptEntries) entry.password = "fuzz";
        entry.encoder = e.encoder;
        if (e.raw.empty()) {
            ok = w.AddEntry(entry, e.data.data(), e.data.size());
        } else {
            vorx::test::RecordOverrides overrides;
            overrides.uncompressedSize = e.data.size();
            overrides.crc32 = vorx::Crc32::Of(e.data.data(), e.data.size());
            ok = w.BeginEntry(entry) && w.WriteRaw(e.raw.data(), e.raw.size()) &&
                 w.EndEntry(overrides);
        }
    }
    ok = ok && w.Finish(seed.directory);
    if (!ok) std::fprintf(stderr, "%s: %s\n", seed.file.c_str(), w.Error().c_str());
    return ok;
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
    Entry e("edge", Bytes(noLengths ? 4 + 100000 : 7, 'a'));
    e.raw.resize(4);
    vorx::WriteLe32(e.raw.data(), (bits << 3) | 1);
    e.raw.insert(e.raw.end(), body.begin(), body.end());
    return e;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    std::filesystem::create_directories(folder);
    const auto packed = [](size_t chunk) { return vorx::test::PackingEncoder(chunk); };

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
    seeds[9].entries = {{"blocks.bin", RandomBytes(200, 10), vorx::StoredBlockEncoder(16)},
                        {"tail", RandomBytes(17, 11)}};
    seeds[10].file = "text.vorx";
    seeds[10].entries = {{"text.txt", WordText(3000, 1), packed(1 << 20)}};
    seeds[11].file = "blocks.vorx";
    seeds[11].entries = {{"blocks", WordText(6000, 2), packed(700)}};
    seeds[12].file = "mixed.vorx";
    seeds[12].entries = {
        {"mixed", RandomBytes(1500, 3), packed(300)}, {"empty", {}}, {"one", {0x41}}};
    seeds[13].file = "secret.vorx";
    seeds[13].entries = {{"secret", WordText(2500, 4), packed(900)},
                         {"plain", WordText(700, 5), packed(1 << 20)}};
    seeds[13].encryptEntries = true;
    seeds[13].directory.password = "fuzz";
    seeds[14].file = "runs.vorx";
    Bytes runs(20000, 'r');
    for (size_t i = 0; i < runs.size(); i += 997) runs[i] = static_cast<uint8_t>(i);
    seeds[14].entries = {{"runs", runs, packed(1 << 20)},
                         {"noise", RandomBytes(3000, 6), packed(1 << 20)}};
    seeds[15].file = "many-packed.vorx";
    for (int i = 0; i < 24; ++i)
        seeds[15].entries.push_back(
            {"dir\\file" + std::to_string(i), WordText(60 + 13 * i, 10 + i), packed(1 << 20)});
    seeds[16].file = "edge0.vorx";
    seeds[16].entries = {EdgeEntry(true)};
    seeds[17].file = "edge1.vorx";
    seeds[17].entries = {EdgeEntry(false)};

    for (const Seed& seed : seeds)
        if (!Write(folder, seed)) return 1;
    std::printf("%zu seeds written to %s\n", seeds.size(), folder.c_str());
    return 0;
}
