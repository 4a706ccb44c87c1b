// Writes the block fuzz target's seed corpus into the folder given: each seed is 8 bytes
// choosing the bit count, the room and the progress fractions, then a body. It is the
// decoder's agreement suite: the product's blocks of many shapes at every level, damaged
// copies, hand-laid adversarial tables (ties, huge weights and symbols, deep chains),
// literal runs that end at every point of the body and the room, and random bodies.
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "container/format.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/stream_builder.h"
#include "writer/compressor.h"

namespace {

using Body = std::vector<uint8_t>;

std::mt19937 rng(1);

Body Sample(size_t size) {
    Body data(size);
    switch (rng() % 5) {
        case 0:
            for (auto& b : data) b = static_cast<uint8_t>(rng());
            break;
        case 1:
            for (auto& b : data) b = static_cast<uint8_t>("the block of slot data\n"[rng() % 23]);
            break;
        case 2:
            for (size_t i = 0; i < size;)
                for (size_t n = 1 + rng() % 300, b = rng() % 4; n && i < size; --n)
                    data[i++] = static_cast<uint8_t>(b);
            break;
        case 3: {
            const size_t period = 1 + rng() % 40;
            for (size_t i = 0; i < size; ++i)
                data[i] =
                    i < period || rng() % 97 == 0 ? static_cast<uint8_t>(rng()) : data[i - period];
            break;
        }
        default:
            for (auto& b : data) b = static_cast<uint8_t>("ab\0\xff"[rng() % 4]);
    }
    return data;
}

std::string folder;
int written = 0;
bool ok = true;

// The block fuzz target's input: the bit count (its top byte, random unless the count
// must stay exact, also chooses the progress fraction), the room, the progress choice.
void Save(const Body& body, uint32_t bits, uint64_t capacity, bool progress,
          bool exactBits = false) {
    if (body.size() > 8000) return;  // beyond the target's input size
    if (capacity > 0xFFFFu * 16 + 15) capacity = 0xFFFFu * 16 + 15;
    Body input(8);
    const uint32_t top = exactBits ? 0 : static_cast<uint32_t>(rng() % 256);
    vorx::WriteLe32(input.data(), (bits & 0xFFFFFFu) | (top << 24));
    vorx::WriteLe16(input.data() + 4, static_cast<uint16_t>(capacity / 16));
    input[6] = static_cast<uint8_t>(capacity % 16);
    input[7] = static_cast<uint8_t>((rng() % 128) << 1 | (progress ? 1 : 0));
    input.insert(input.end(), body.begin(), body.end());
    const std::string path = folder + "/block" + std::to_string(written++);
    ok &= fuzz::WriteInput(path, input.data(), input.size());
}

// Data compressed by the product at a random level (always a compressed block), with
// the body padded to 16 bytes as the archive holds it.
Body Encoded(const Body& data, uint32_t* bits) {
    static std::unique_ptr<vorx::Compressor> levels[vorx::kMaxLevel + 1];
    auto& c = levels[1 + rng() % vorx::kMaxLevel];
    if (!c) {
        c = std::make_unique<vorx::Compressor>(static_cast<int>(&c - levels), 1 << 17);
        c->set_forceCompressed(true);
    }
    vorx::EncodedBlock block;
    if (data.empty() || !c->EncodeBlock(data.data(), data.size(), &block)) {
        *bits = 0;
        return Body(16, 0);
    }
    *bits = block.sizeField;
    block.body.resize((block.body.size() + 15) / 16 * 16, 0);
    return block.body;
}

std::vector<reference::Entry> Table(size_t maxCount, uint32_t symbolLimit, bool huge) {
    std::vector<reference::Entry> t(rng() % (maxCount + 1));
    for (auto& e : t) {
        // Lengths are mostly short; now and then near the largest, beyond what a lookup entry
        // holds.
        e.symbol = symbolLimit ? static_cast<uint32_t>(rng() % symbolLimit)
                   : rng() % 64
                       ? 1 + static_cast<uint32_t>(rng() % 300)
                       : vorx::kLargestEscapedNumber - static_cast<uint32_t>(rng() % 200000);
        e.weight = huge ? 1 + static_cast<uint32_t>(rng() % vorx::kLargestEscapedNumber)
                        : 1 + static_cast<uint32_t>(rng() % (rng() % 2 ? 3 : 1000));
    }
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    folder = fuzz::SeedFolder(argc, argv);
    uint32_t bits = 0;
    // Sound blocks, given exactly their room and one byte less; then damaged copies.
    for (int round = 0; round < 300; ++round) {
        const Body data = Sample(rng() % 3 == 0 ? rng() % 64 : rng() % 6000);
        Body body = Encoded(data, &bits);
        if (round < 100) {
            Save(body, bits, data.size(), round % 2);
            Save(body, bits, data.size() - (data.empty() ? 0 : 1), false);
            continue;
        }
        for (int i = 1 + static_cast<int>(rng() % 8); i > 0; --i) {
            const uint32_t bit = rng() % 4 == 0 ? rng() % 400 : rng() % (bits + 1);
            if (bit / 8 < body.size()) body[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        }
        if (rng() % 4 == 0) bits = static_cast<uint32_t>(rng() % (body.size() * 8 + 1));
        Save(body, bits, rng() % 3 ? data.size() : data.size() + rng() % 300000, rng() % 2);
    }
    // Short periods: long overlapping matches that end at the end of the room.
    for (uint32_t period = 1; period <= 40; period += 3)
        for (size_t size : {5, 17, 64, 1000, 70000}) {
            Body data(size);
            for (size_t i = 0; i < size; ++i)
                data[i] = i < period ? static_cast<uint8_t>(rng()) : data[i - period];
            const Body body = Encoded(data, &bits);
            Save(body, bits, size, false);
        }
    // Adversarial tables (wide, huge weights, empty) over random step bits.
    for (int round = 0; round < 200; ++round) {
        streams::BlockPlan plan;
        plan.stepCount = rng() % 3000;
        plan.literalWidth = rng() % 16;
        const bool huge = rng() % 3 == 0;
        plan.flags = Table(16, 16, huge);
        plan.literals = Table(256, 1u << plan.literalWidth, huge);
        plan.lengths = Table(rng() % 4 == 0 ? 3000 : 40, 0, huge);
        if (round % 8 == 0) {  // halving weights: a chain deeper than 32 steps
            plan.lengths.clear();
            for (uint32_t i = 0; i < 40; ++i)
                plan.lengths.push_back({i < 23 ? 1u << (22 - i) : 1u, 3 + i});
        }
        plan.slots = Table(16, 16, huge);
        streams::BlockWriter w(plan);
        const uint32_t bias = rng() % 3;
        for (uint32_t i = rng() % 30000; i > 0; --i)
            w.bits().WriteBit(bias == 0   ? rng() % 2
                              : bias == 1 ? (rng() % 8 == 0)
                                          : (rng() % 8 != 0));
        const Body body = w.Finish(&bits);
        Save(body, bits, rng() % 200000, rng() % 2);
    }
    // Flag symbol 0 (four literals) has the code 0, so the zero slack behind the steps
    // decodes as literal runs until a code reaches past it; literal codes of many lengths
    // (some longer than the lookup table) put that point at every step of a run.
    for (int round = 0; round < 120; ++round) {
        streams::BlockPlan plan;
        plan.flags = {{1, 5}, {1, 0}};
        const uint32_t symbols = 2 + rng() % 60;
        for (uint32_t i = 0; i < symbols; ++i)
            plan.literals.push_back(
                {static_cast<uint32_t>(1 + (rng() % 4 == 0 ? rng() % 5000 : rng() % 3)),
                 i * 4 + 1});
        plan.lengths = {{1, 2}};
        plan.slots = {{1, 0}};
        const uint32_t runs = rng() % 12;
        plan.stepCount = 4 * runs + rng() % 300;
        streams::BlockWriter w(plan);
        for (uint32_t r = 0; r < runs; ++r) {
            w.Flag(0);
            for (int i = 0; i < 4; ++i) w.Literal(plan.literals[rng() % symbols].symbol);
        }
        const Body body = w.Finish(&bits);
        Save(body, bits,
             round % 3 == 0   ? 1 << 16
             : round % 3 == 1 ? 4 * runs + rng() % 8
                              : rng() % 400,
             false);
    }
    // Literal steps in the zero slack that end exactly at its end (the last bit a code
    // may read): whole groups (a flag code and four times the leftmost literal code, an
    // odd number of bits) and then 0 to 3 steps one by one; and the same with a group more,
    // which reads past it. The body is made as long as that requires.
    for (int round = 0; round < 80; ++round) {
        streams::BlockPlan plan;
        plan.flags = {{1, 5}, {1, 0}};
        for (uint32_t i = 0, n = 2 + rng() % 40; i < n; ++i)
            plan.literals.push_back({1 + static_cast<uint32_t>(rng() % 9), i});
        plan.lengths = {{1, 2}};
        plan.slots = {{1, 0}};
        reference::Tree literals;
        literals.Build(plan.literals);
        const uint32_t code = static_cast<uint32_t>(literals.Leaves()[0].path.size());
        const uint32_t group = 1 + 4 * code, tail = round % 4,
                       tailBits = tail ? 1 + tail * code : 0;
        const uint32_t tables = static_cast<uint32_t>(streams::BlockWriter(plan).bits().bitCount());
        uint32_t bodyBits = (tables + tailBits + 128) / 128 * 128;
        while ((bodyBits + 128 - tables - tailBits) % group != 0) bodyBits += 128;
        for (uint32_t more : {0u, 4u}) {
            plan.stepCount = 4 * ((bodyBits + 128 - tables - tailBits) / group) + tail + more;
            streams::BlockWriter w(plan);
            while (w.bits().bitCount() < bodyBits) w.bits().WriteBit(0);
            const Body body = w.Finish(&bits);
            Save(body, bits, plan.stepCount + rng() % 2000, false, true);
        }
    }
    // Random bodies, half of them with small table counts so that the steps are reached.
    for (int round = 0; round < 300; ++round) {
        Body body(16 * (1 + rng() % 40));
        for (auto& b : body) b = static_cast<uint8_t>(rng());
        if (round % 2) {
            body[3] = static_cast<uint8_t>(rng() % 4);
            body[4] = static_cast<uint8_t>(rng() % 8);
            body[5] = 0;
            body[6] &= 0x03;
            body[7] &= 0x03;
        }
        Save(body, static_cast<uint32_t>(rng() % (body.size() * 8 + 1)), rng() % 5000, false);
    }
    std::printf("%d seeds\n", written);
    return ok ? 0 : 1;
}
