// Writes the seed corpus of the archive fuzz target into the folder given as argument:
// small archives of every shape (carriers, plain and encrypted names tables and
// entries, many entries, long names, names in the padding, stored and compressed
// entries of one block and many, text, noise and runs), entries of hand-made blocks
// that reach the edges of the format (trees of one symbol, no lengths), and a wrong
// entry count (the conformance sample adds the older format and damaged tables).
// Encrypted parts use the target's password.
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
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
        if (seed.encryptEntries) e.password = fuzz::kPassword;
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
    const std::string folder = fuzz::SeedFolder(argc, argv);
    std::deque<Seed> seeds;
    const auto add = [&seeds](const std::string& file, std::vector<Entry> entries) -> Seed& {
        Seed& seed = seeds.emplace_back();
        seed.file = file;
        seed.entries = std::move(entries);
        return seed;
    };
    const auto packed = [](const std::string& name, Bytes data, size_t chunk) {
        Entry e(name, std::move(data));
        e.encoder = vorx::test::PackingEncoder(chunk);
        return e;
    };

    const std::vector<Entry> basic = {{"readme.txt", RandomBytes(40, 1)},
                                      {"dir\\data.bin", RandomBytes(100, 2)},
                                      {"$comments$", RandomBytes(9, 3)}};
    add("basic.vorx", basic);
    Bytes carrier = WordText(300, 4);
    carrier.insert(carrier.begin() + 10, {'V', 'O', 'R', 'X'});
    add("carrier.vorx", basic).carrier = carrier;
    add("encrypted-names.vorx", basic).directory.password = fuzz::kPassword;
    add("encrypted-entries.vorx", basic).encryptEntries = true;
    add("ghost.vorx", basic).directory.padding = {'g', 'h', 'o', 's', 't', 0};
    add("wrong-count.vorx", basic).directory.entryCount = 5;
    Seed& many = add("many.vorx", {});
    for (unsigned i = 0; i < 40; ++i)
        many.entries.push_back({"f" + std::to_string(i), RandomBytes(i % 7, i)});
    add("long-names.vorx", {{std::string(239, 'a'), RandomBytes(3, 5)},
                            {std::string(250, 'b'), RandomBytes(3, 6)},
                            {std::string(255, 'c'), RandomBytes(3, 7)},
                            {"", RandomBytes(2, 8)},
                            {"short", RandomBytes(1, 9)}});
    add("empty.vorx", {});
    Seed& multi = add("multi-block.vorx",
                      {{"blocks.bin", RandomBytes(200, 10)}, {"tail", RandomBytes(17, 11)}});
    multi.entries[0].encoder = vorx::StoredBlockEncoder(16);
    add("text.vorx", {packed("text.txt", WordText(3000, 1), 1 << 20)});
    add("blocks.vorx", {packed("blocks", WordText(6000, 2), 700)});
    add("mixed.vorx", {packed("mixed", RandomBytes(1500, 3), 300), {"empty", {}}, {"one", {0x41}}});
    Seed& secret = add("secret.vorx", {packed("secret", WordText(2500, 4), 900),
                                       packed("plain", WordText(700, 5), 1 << 20)});
    secret.encryptEntries = true;
    secret.directory.password = fuzz::kPassword;
    Bytes runs(20000, 'r');
    for (size_t i = 0; i < runs.size(); i += 997) runs[i] = static_cast<uint8_t>(i);
    add("runs.vorx",
        {packed("runs", runs, 1 << 20), packed("noise", RandomBytes(3000, 6), 1 << 20)});
    Seed& manyPacked = add("many-packed.vorx", {});
    for (int i = 0; i < 24; ++i)
        manyPacked.entries.push_back(
            packed("dir\\file" + std::to_string(i), WordText(60 + 13 * i, 10 + i), 1 << 20));
    add("edge0.vorx", {EdgeEntry(true)});
    add("edge1.vorx", {EdgeEntry(false)});

    for (const Seed& seed : seeds)
        if (!Write(folder, seed)) return 1;
    std::printf("%zu seeds written to %s\n", seeds.size(), folder.c_str());
    return 0;
}
