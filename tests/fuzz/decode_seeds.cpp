// Writes the seed corpus of the decoding fuzz target into the folder given as argument:
// small archives whose entries are compressed with the test-side encoder (one block and
// many, mixed with stored blocks, encrypted with the target's password, text, noise,
// runs), and entries of hand-made blocks that reach the edges of the format (trees of
// one symbol, no lengths, blocks without steps).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"
#include "writer/archive_writer.h"

namespace {

using streams::Step;
using vorx::Bytes;
using vorx::test::WordText;

struct Entry {
    std::string name;
    Bytes data;
    vorx::BlockEncoder encoder = vorx::StoredBlockEncoder();
    std::optional<std::string> password;
    Bytes raw;  // hand-made data area instead of data (its record claims data's size)
};

Bytes Noise(size_t size, unsigned seed) {
    Bytes out(size);
    unsigned x = seed;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

Bytes RawBlock(const std::vector<uint8_t>& body, uint32_t bits) {
    Bytes b(4 + body.size(), 0);
    vorx::WriteLe32(b.data(), (bits << 3) | 1);
    std::copy(body.begin(), body.end(), b.begin() + 4);
    return b;
}

bool Write(const std::string& path, const std::vector<Entry>& entries, bool encryptNames) {
    vorx::test::DamagingWriter w;
    bool ok = w.Create(path) && w.BeginArchive();
    for (const Entry& e : entries) {
        if (!ok) break;
        vorx::EntryOptions entry;
        entry.name = e.name;
        entry.encoder = e.encoder;
        entry.password = e.password;
        if (e.raw.empty()) {
            ok = w.AddEntry(entry, e.data.data(), e.data.size());
        } else {
            vorx::test::RecordOverrides overrides;
            overrides.uncompressedSize = e.data.size();
            overrides.crc32 = vorx::Crc32::Of(e.data.data(), e.data.size());
            ok = w.BeginEntry(entry) && w.WriteRaw(e.raw.data(), e.raw.size()) && w.EndEntry(overrides);
        }
    }
    vorx::test::DamagedDirectory directory;
    if (encryptNames) directory.password = "fuzz";
    ok = ok && w.Finish(directory);
    if (!ok) std::fprintf(stderr, "%s: %s\n", path.c_str(), w.Error().c_str());
    return ok;
}

// A block from explicit tables and steps: the edges the encoder does not reach.
Bytes EdgeBlock(int kind, Bytes* decoded) {
    streams::BlockPlan plan;
    plan.literals = {{1, 'a'}};
    plan.slots = {{1, 0}};
    plan.flags = {{2, 0}, {1, 1}};
    if (kind == 0) plan.lengths = {};       // matches of the marker length
    else plan.lengths = {{1, 3}};           // one length
    plan.stepCount = 5;
    streams::BlockWriter w(plan);
    w.Flag(0);
    for (int i = 0; i < 4; ++i) w.Literal('a');
    w.Flag(1);
    if (kind != 0) w.Length(3);
    w.Slot(0);
    uint32_t bits = 0;
    Bytes body = w.Finish(&bits);
    *decoded = Bytes(kind == 0 ? 4 + 100000 : 7, 'a');
    return RawBlock(body, bits);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = true;
    ok &= Write(folder + "/text.vorx", {{"text.txt", WordText(3000, 1), streams::CompressingEncoder(1 << 20), {}, {}}}, false);
    ok &= Write(folder + "/blocks.vorx", {{"blocks", WordText(6000, 2), streams::CompressingEncoder(700), {}, {}}}, false);
    ok &= Write(folder + "/mixed.vorx",
                {{"mixed", Noise(1500, 3), streams::CompressingEncoder(300, true), {}, {}},
                 {"empty", {}, vorx::StoredBlockEncoder(), {}, {}},
                 {"one", {0x41}, vorx::StoredBlockEncoder(), {}, {}}},
                false);
    ok &= Write(folder + "/secret.vorx",
                {{"secret", WordText(2500, 4), streams::CompressingEncoder(900, true), std::string("fuzz"), {}},
                 {"plain", WordText(700, 5), streams::CompressingEncoder(1 << 20), {}, {}}},
                true);
    Bytes runs(20000, 'r');
    for (size_t i = 0; i < runs.size(); i += 997) runs[i] = static_cast<uint8_t>(i);
    ok &= Write(folder + "/runs.vorx", {{"runs", runs, streams::CompressingEncoder(1 << 20), {}, {}}}, false);
    ok &= Write(folder + "/noise.vorx", {{"noise", Noise(3000, 6), streams::CompressingEncoder(1 << 20), {}, {}}}, false);
    std::vector<Entry> many;
    for (int i = 0; i < 24; ++i)
        many.push_back({"dir\\file" + std::to_string(i), WordText(60 + 13 * i, 10 + i), streams::CompressingEncoder(1 << 20), {}, {}});
    ok &= Write(folder + "/many.vorx", many, false);
    for (int kind = 0; kind < 2; ++kind) {
        Entry e;
        e.name = "edge";
        e.raw = EdgeBlock(kind, &e.data);
        ok &= Write(folder + "/edge" + std::to_string(kind) + ".vorx", {e}, false);
    }
    return ok ? 0 : 1;
}
