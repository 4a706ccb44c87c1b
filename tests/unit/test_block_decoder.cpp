// The compressed block decoder on the edge cases of the format worked out by hand, one
// row per block: its result and output, and the reference's agreement with them (the
// fuzz target's seed corpus holds the agreement on many more blocks).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "codec/block_decoder.h"
#include "codec/context_table.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/stream_builder.h"

using streams::BlockPlan;
using streams::BlockWriter;
using streams::Step;
using Body = std::vector<uint8_t>;

namespace {

vorx::ContextTable& Contexts() {
    static vorx::ContextTable* table = vorx::CreateContextTable();
    return *table;
}

struct Decoded {
    vorx_Error code = vorx_Success;
    Body output;
    std::vector<int> progress;
};

void RecordProgress(void* user, int percent) { static_cast<std::vector<int>*>(user)->push_back(percent); }

vorx_Error RefuseMore(vorx::OutputTarget*, uint64_t) { return vorx_CorruptArchive; }

// Decodes with the product into a buffer of exactly `capacity` bytes (so that a write
// past it is caught by the sanitizers) behind a body of exactly its slack; with a
// block fraction, records the progress reports.
Decoded Decode(const Body& body, uint32_t bitCount, uint64_t capacity, float start = 0, float fraction = 0) {
    Body buffer(body);
    buffer.resize(body.size() + vorx::kBodySlackBytes + vorx::kBodyOverreadBytes, 0);
    Body out(capacity);
    vorx::OutputTarget target{out.data(), capacity, &RefuseMore};
    vorx::BlockScratch scratch;
    Decoded d;
    vorx::BlockProgress p{&RecordProgress, &d.progress, start, fraction};
    uint64_t produced = 0;
    d.code = vorx::DecodeCompressedBlock(buffer.data(), bitCount, static_cast<uint32_t>(body.size()), Contexts(),
                                         scratch, target, capacity, fraction > 0 ? &p : nullptr, &produced);
    if (d.code == vorx_Success) d.output.assign(out.begin(), out.begin() + static_cast<ptrdiff_t>(produced));
    // The reference gives the same result, bytes and reports.
    const Body padded = streams::WithSlack(body, 4096);
    const uint32_t limitBits = static_cast<uint32_t>((body.size() + vorx::kBodySlackBytes) * 8);
    const reference::BlockResult r =
        reference::DecodeBlock(padded.data(), bitCount, limitBits, capacity, start, fraction, fraction > 0);
    EXPECT_EQ(r.code, d.code);
    if (r.code == vorx_Success && d.code == vorx_Success) {
        EXPECT_EQ(r.output, d.output);
        EXPECT_EQ(r.progress, d.progress);
    }
    return d;
}

std::vector<Step> Steps(const std::string& literals, std::vector<Step> more = {}, const std::string& tail = "",
                        std::vector<Step> last = {}) {
    std::vector<Step> steps;
    for (char c : literals) steps.push_back(Step{false, static_cast<uint8_t>(c), 0});
    steps.insert(steps.end(), more.begin(), more.end());
    for (char c : tail) steps.push_back(Step{false, static_cast<uint8_t>(c), 0});
    steps.insert(steps.end(), last.begin(), last.end());
    return steps;
}

std::function<Body(uint32_t*)> Encoded(std::vector<Step> steps) {
    return [steps](uint32_t* bits) { return streams::EncodeSteps(steps, bits); };
}

// Hand-laid blocks: one literal 'a', one slot; flags and steps as given.
std::function<Body(uint32_t*)> Laid(uint32_t stepCount, std::vector<reference::Entry> flags,
                                    std::vector<reference::Entry> lengths, std::function<void(BlockWriter&)> steps) {
    return [=](uint32_t* bits) {
        BlockPlan plan;
        plan.stepCount = stepCount;
        plan.flags = flags;
        plan.literals = {{1, 'a'}};
        plan.lengths = lengths;
        plan.slots = {{1, 0}};
        BlockWriter w(plan);
        steps(w);
        return w.Finish(bits);
    };
}

Step Match(uint32_t length, uint32_t selector) { return Step{true, length, selector}; }

}  // namespace

TEST(BlockDecoder, HandWorkedBlocks) {
    const auto fourA = [](BlockWriter& w) {
        w.Flag(0);
        for (int i = 0; i < 4; ++i) w.Literal('a');
    };
    const auto missingChildren = [](BlockWriter& w) {
        w.Flag(0);
        w.bits().WriteBits(0b0101, 4);  // a, a missing child (FF), a, FF
        w.Flag(1);
        w.Length(1);
        w.bits().WriteBit(0);  // slot symbol: a missing child gives selector 3, an empty slot
    };
    const auto escapeBeyond = [](uint32_t* bits) {
        vorx::BitWriter w;
        w.WriteBits(0, 32);
        w.WriteBits(0, 32);
        w.WriteBits(3, 4);
        for (uint32_t width : {2u, 3u, 5u, 8u, 12u, 17u, 23u}) w.WriteBits((1u << width) - 1u, width);
        for (int i = 0; i < 200; ++i) w.WriteBit(0);
        Body body = w.bytes();
        body.resize((body.size() + 15) / 16 * 16, 0);
        *bits = static_cast<uint32_t>(w.bitCount());
        return body;
    };
    const struct {
        const char* what;
        std::function<Body(uint32_t*)> make;
        uint64_t capacity;
        vorx_Error code;
        std::string output;
        int64_t bits = -1;  // the bit count given, when not the block's own
    } rows[] = {
        {"a match before position 3 finds no slot", Encoded(Steps("", {Match(1, 0)})), 100, vorx_CorruptArchive, ""},
        {"...nor at 1", Encoded(Steps("a", {Match(1, 0)})), 100, vorx_CorruptArchive, ""},
        {"...nor at 2", Encoded(Steps("ab", {Match(1, 0)})), 100, vorx_CorruptArchive, ""},
        // At p = 4 the context aaa selects the bucket where p = 3 was recorded.
        {"overlapping match", Encoded(Steps("aaaa", {Match(5, 0)})), 100, vorx_Success, "aaaaaaaaa"},
        {"overlap of a period", Encoded(Steps("abcabc", {Match(7, 0)})), 100, vorx_Success, "abcabcabcabca"},
        // 01 a b and q b share a bucket, where p = 3 ('Z') was recorded.
        {"three-byte bucket", Encoded(Steps("XqbZ\x01" "ab", {Match(1, 0)})), 100, vorx_Success, "XqbZ\x01" "abZ"},
        // Y replaces X in slot 0; the match at 11 stamps slot 0, so its position goes to
        // slot 1, from which the match at 15 copies "Yv".
        {"oldest slot", Encoded(Steps("zabXqabYwab", {Match(1, 0)}, "vab", {Match(2, 1)})), 100, vorx_Success,
         "zabXqabYwabYvabYv"},
        {"no steps", Encoded({}), 100, vorx_Success, ""},
        {"the room ends the output", Encoded(Steps("abcdefgh")), 7, vorx_CorruptArchive, ""},
        // One flag symbol: its code is the bit 1; a 0 meets a missing child, all ones
        // (four matches).
        {"one flag symbol", Laid(5, {{1, 0}}, {{1, 2}},
                                 [](BlockWriter& w) {
                                     w.bits().WriteBit(1);
                                     for (int i = 0; i < 4; ++i) w.Literal('a');
                                     w.bits().WriteBit(0);
                                     w.Length(2);
                                     w.Slot(0);
                                 }),
         100, vorx_Success, "aaaaaa"},
        {"missing children", Laid(5, {{1, 0}, {1, 1}}, {{1, 1}}, missingChildren), 100, vorx_CorruptArchive, ""},
        {"missing children, four steps", Laid(4, {{1, 0}, {1, 1}}, {{1, 1}}, missingChildren), 100, vorx_Success,
         std::string("a\xFF" "a\xFF")},
        // No lengths: a childless root gives matches of the marker length, reading no bit.
        {"empty length tree", Laid(5, {{1, 0}, {1, 1}}, {}, [&](BlockWriter& w) { fourA(w), w.Flag(1), w.Slot(0); }),
         4 + 100000, vorx_Success, std::string(100004, 'a')},
        {"empty length tree, a byte short", Laid(5, {{1, 0}, {1, 1}}, {}, [&](BlockWriter& w) { fourA(w), w.Flag(1), w.Slot(0); }),
         4 + 99999, vorx_CorruptArchive, ""},
        // The tables must end before the bit count; a count inside them cuts them short.
        {"tables end at the bit count", Laid(0, {{1, 0}}, {}, [](BlockWriter&) {}), 10, vorx_Success, ""},
        {"tables reach the bit count", Laid(0, {{1, 0}}, {}, [](BlockWriter&) {}), 10, vorx_CorruptArchive, "", -2},
        {"bit count inside the tables", Laid(0, {{1, 0}}, {}, [](BlockWriter&) {}), 10, vorx_CorruptArchive, "", 70},
        {"bit count 0", Laid(0, {{1, 0}}, {}, [](BlockWriter&) {}), 10, vorx_CorruptArchive, "", 0},
        {"escape code beyond the format", escapeBeyond, 10, vorx_CorruptArchive, ""},
        // Every step costs bits: a step count far beyond the stream walks into the zero
        // slack and past it.
        {"steps past the body and its slack", Laid(100000, {{1, 0}, {1, 3}}, {}, [](BlockWriter&) {}), 1 << 20,
         vorx_CorruptArchive, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        uint32_t bits = 0;
        const Body body = row.make(&bits);
        if (row.bits == -2) --bits;  // one bit less than the block's own
        else if (row.bits >= 0) bits = static_cast<uint32_t>(row.bits);
        const Decoded d = Decode(body, bits, row.capacity);
        EXPECT_EQ(d.code, row.code);
        if (row.code == vorx_Success) {
            EXPECT_EQ(std::string(d.output.begin(), d.output.end()), row.output);
        }
    }
}

TEST(BlockDecoder, ReportsProgressAtTheFormatsSteps) {
    // A block that is the whole entry, of four steps: every step reports (interval 0).
    uint32_t bits = 0;
    const Body body = streams::EncodeSteps(Steps("abcd"), &bits);
    Decoded d = Decode(body, bits, 10, 0.0f, 1.0f);
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_EQ(d.progress, (std::vector<int>{0, 25, 50, 75}));
    // A hundred steps that are a tenth of the entry, after half of it: one report every
    // tenth of the block.
    const Body body100 = streams::EncodeSteps(Steps(std::string(100, 'x')), &bits);
    d = Decode(body100, bits, 100, 0.5f, 0.1f);
    ASSERT_EQ(d.code, vorx_Success);
    ASSERT_GE(d.progress.size(), 9u);
    ASSERT_LE(d.progress.size(), 11u);
    EXPECT_GE(d.progress.front(), 50);
    EXPECT_LE(d.progress.back(), 60);
}

TEST(BlockDecoder, EachBlockStartsWithAnEmptyContextTableHoweverOftenItWasCleared) {
    // Block A leaves positions in the bucket of "bc"; block B's match at "qqqabc" would
    // find one if anything of A were still visible.
    uint32_t bitsA = 0, bitsB = 0;
    const Body a = streams::EncodeSteps(Steps("abcabc", {Match(7, 0)}), &bitsA);
    const Body b = streams::EncodeSteps(Steps("qqqabc", {Match(1, 0)}), &bitsB);
    for (int clears : {0, 1, 2}) {
        ASSERT_EQ(Decode(a, bitsA, 100).code, vorx_Success);
        for (int i = 0; i < clears; ++i) Contexts().Clear();
        EXPECT_EQ(Decode(b, bitsB, 100).code, vorx_CorruptArchive) << clears;
    }
}
