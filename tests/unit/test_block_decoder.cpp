// The compressed block decoder on the edge cases of the format worked out by hand
// (the fuzz target's seed corpus holds the agreement with the reference on many blocks).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/block_decoder.h"
#include "codec/context_table.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/stream_builder.h"

using streams::BlockPlan;
using streams::BlockWriter;
using streams::Step;
using vorx::kBodyOverreadBytes;
using vorx::kBodySlackBytes;

namespace {

vorx::ContextTable& Contexts() {
    static vorx::ContextTable* table = vorx::CreateContextTable();
    return *table;
}

struct Decoded {
    vorx_Error code = vorx_Success;
    std::vector<uint8_t> output;
    std::vector<int> progress;
};

void RecordProgress(void* user, int percent) { static_cast<std::vector<int>*>(user)->push_back(percent); }

vorx_Error RefuseMore(vorx::OutputTarget*, uint64_t) { return vorx_CorruptArchive; }

struct ProgressSpec {
    float start = 0.0f;
    float fraction = 0.0f;
};

// Decodes with the product into a buffer of exactly `capacity` bytes (so that a write
// past it is caught by the sanitizers) behind a body of exactly its slack.
Decoded Decode(const std::vector<uint8_t>& body, uint32_t bitCount, uint64_t capacity,
               const ProgressSpec* progress = nullptr) {
    std::vector<uint8_t> buffer(body);
    buffer.resize(body.size() + kBodySlackBytes + kBodyOverreadBytes, 0);
    std::vector<uint8_t> out(capacity);
    vorx::OutputTarget target{out.data(), capacity, &RefuseMore};
    vorx::BlockScratch scratch;
    Decoded d;
    vorx::BlockProgress p{&RecordProgress, &d.progress, progress ? progress->start : 0.0f,
                          progress ? progress->fraction : 0.0f};
    uint64_t produced = 0;
    d.code = vorx::DecodeCompressedBlock(buffer.data(), bitCount, static_cast<uint32_t>(body.size()), Contexts(),
                                         scratch, target, capacity, progress ? &p : nullptr, &produced);
    if (d.code == vorx_Success) d.output.assign(out.begin(), out.begin() + static_cast<ptrdiff_t>(produced));
    return d;
}

reference::BlockResult Reference(const std::vector<uint8_t>& body, uint32_t bitCount, uint64_t capacity,
                                 const ProgressSpec* progress = nullptr) {
    const auto buffer = streams::WithSlack(body, 4096);
    const uint32_t limitBits = static_cast<uint32_t>((body.size() + kBodySlackBytes) * 8);
    return reference::DecodeBlock(buffer.data(), bitCount, limitBits, capacity, progress ? progress->start : 0.0f,
                                  progress ? progress->fraction : 0.0f, progress != nullptr);
}

// The product and the reference give the same code, and on success the same bytes and
// the same progress reports.
::testing::AssertionResult Agree(const std::vector<uint8_t>& body, uint32_t bitCount, uint64_t capacity,
                                 const ProgressSpec* progress = nullptr) {
    const Decoded d = Decode(body, bitCount, capacity, progress);
    const reference::BlockResult r = Reference(body, bitCount, capacity, progress);
    if (d.code != r.code)
        return ::testing::AssertionFailure() << "code " << d.code << " against reference " << r.code;
    if (d.code != vorx_Success) return ::testing::AssertionSuccess();
    if (d.output != r.output)
        return ::testing::AssertionFailure() << "output differs (" << d.output.size() << " against "
                                             << r.output.size() << " bytes)";
    if (d.progress != r.progress) return ::testing::AssertionFailure() << "progress differs";
    return ::testing::AssertionSuccess();
}

Step Lit(char c) { return Step{false, static_cast<uint8_t>(c), 0}; }
Step Match(uint32_t length, uint32_t selector) { return Step{true, length, selector}; }

std::vector<Step> Literals(const std::string& text) {
    std::vector<Step> steps;
    for (char c : text) steps.push_back(Lit(c));
    return steps;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

Decoded DecodeSteps(const std::vector<Step>& steps, uint64_t capacity = 1 << 16) {
    uint32_t bits = 0;
    const auto body = streams::EncodeSteps(steps, &bits);
    return Decode(body, bits, capacity);
}

}  // namespace

// ---------------------------------------------------------------------------
// Worked by hand.

TEST(BlockDecoder, AMatchAtTheFirstThreePositionsFindsNoSlot) {
    for (int literals = 0; literals < 3; ++literals) {
        const auto d = DecodeSteps(Literals(std::string("abc").substr(0, literals)) + std::vector<Step>{Match(1, 0)});
        EXPECT_EQ(d.code, vorx_CorruptArchive) << literals;
    }
}

TEST(BlockDecoder, OverlappingMatchesRepeatTheBytesJustWritten) {
    // At p = 4 the context aaa selects the bucket where p = 3 was recorded: one byte back.
    auto d = DecodeSteps(Literals("aaaa") + std::vector<Step>{Match(5, 0)});
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_EQ(d.output, Bytes("aaaaaaaaa"));
    // At p = 6 the context abc selects the bucket of bc, where p = 3 was recorded.
    d = DecodeSteps(Literals("abcabc") + std::vector<Step>{Match(7, 0)});
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_EQ(d.output, Bytes("abcabcabcabca"));
}

TEST(BlockDecoder, TheThreeByteBucketIsUsedWhenItsFirstSlotIsFilled) {
    // The bucket of the three bytes 01 a b is the bucket of the two bytes q b, where
    // p = 3 ('Z') was recorded; the two-byte bucket of a b is empty. Taking the wrong
    // bucket, in the lookup or in the update, leaves the match without a slot.
    const auto d = DecodeSteps(Literals(std::string("XqbZ\x01" "ab")) + std::vector<Step>{Match(1, 0)});
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_EQ(d.output, Bytes(std::string("XqbZ\x01" "abZ")));
}

TEST(BlockDecoder, NewPositionsGoToTheOldestSlot) {
    // X and Y both follow "ab": Y replaces X in slot 0 (all stamps 0). The match at 11
    // stamps slot 0, so its own position goes to slot 1, from which the match at 15
    // copies "Yv" (slot 0 would give "Yw").
    const auto d = DecodeSteps(Literals("zabXqabYwab") + std::vector<Step>{Match(1, 0)} + Literals("vab") +
                               std::vector<Step>{Match(2, 1)});
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_EQ(d.output, Bytes("zabXqabYwabYvabYv"));
}

TEST(BlockDecoder, ASingleFlagSymbolCostsOneBitThatMustBeOne) {
    BlockPlan plan;
    plan.stepCount = 5;
    plan.flags = {{1, 0}};     // one symbol: code "1" gives four literals
    plan.literals = {{1, 'a'}};
    plan.lengths = {{1, 2}};
    plan.slots = {{1, 0}};
    BlockWriter w(plan);
    w.bits().WriteBit(1);                    // flag symbol 0
    for (int i = 0; i < 4; ++i) w.Literal('a');
    w.bits().WriteBit(0);                    // no left child: all ones, four matches
    w.Length(2);
    w.Slot(0);
    uint32_t bits = 0;
    const auto body = w.Finish(&bits);
    const auto d = Decode(body, bits, 100);
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_EQ(d.output, Bytes("aaaaaa"));
    EXPECT_TRUE(Agree(body, bits, 100));
}

TEST(BlockDecoder, AMissingChildGivesTheByteFFAndSelectorThree) {
    BlockPlan plan;
    plan.stepCount = 5;
    plan.flags = {{1, 0}, {1, 1}};  // symbol 0 "1", symbol 1 "0"
    plan.literals = {{1, 'a'}};
    plan.lengths = {{1, 1}};
    plan.slots = {{1, 0}};
    BlockWriter w(plan);
    w.Flag(0);
    w.bits().WriteBits(0b0101, 4);  // a, FF, a, FF
    w.Flag(1);
    w.Length(1);
    w.bits().WriteBit(0);  // slot symbol: all ones, selector 3: an empty slot
    uint32_t bits = 0;
    auto body = w.Finish(&bits);
    auto d = Decode(body, bits, 100);
    EXPECT_EQ(d.code, vorx_CorruptArchive);
    plan.stepCount = 4;
    BlockWriter four(plan);
    four.Flag(0);
    four.bits().WriteBits(0b0101, 4);
    body = four.Finish(&bits);
    d = Decode(body, bits, 100);
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_EQ(d.output, (std::vector<uint8_t>{'a', 0xFF, 'a', 0xFF}));
}

TEST(BlockDecoder, AnEmptyLengthTreeGivesMatchesOfTheMarkerLength) {
    BlockPlan plan;
    plan.stepCount = 5;
    plan.flags = {{1, 0}, {1, 1}};
    plan.literals = {{1, 'a'}};
    plan.slots = {{1, 0}};  // no lengths: the length tree has a childless root
    BlockWriter w(plan);
    w.Flag(0);
    for (int i = 0; i < 4; ++i) w.Literal('a');
    w.Flag(1);
    w.Slot(0);  // the length reads no bit
    uint32_t bits = 0;
    const auto body = w.Finish(&bits);
    const auto d = Decode(body, bits, 4 + 100000);
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_EQ(d.output, std::vector<uint8_t>(100004, 'a'));
    EXPECT_EQ(Decode(body, bits, 4 + 99999).code, vorx_CorruptArchive);
}

TEST(BlockDecoder, ABlockOfNoStepsProducesNothing) {
    const auto d = DecodeSteps({});
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_TRUE(d.output.empty());
}

TEST(BlockDecoder, TablesThatReachTheBitCountAreCorrupt) {
    BlockPlan plan;
    plan.flags = {{1, 0}};
    plan.literals = {{1, 'a'}};
    BlockWriter w(plan);
    uint32_t bits = 0;
    const auto body = w.Finish(&bits);
    ASSERT_EQ(bits, w.tablesEnd() + 1);
    EXPECT_EQ(Decode(body, bits, 10).code, vorx_Success);
    EXPECT_EQ(Decode(body, bits - 1, 10).code, vorx_CorruptArchive);
    // A bit count inside the tables stops them early; what follows is then past it.
    EXPECT_EQ(Decode(body, 70, 10).code, vorx_CorruptArchive);
    EXPECT_EQ(Decode(body, 0, 10).code, vorx_CorruptArchive);
}

TEST(BlockDecoder, AnEscapeCodeBeyondTheFormatIsCorrupt) {
    vorx::BitWriter w;
    w.WriteBits(0, 32);
    w.WriteBits(0, 32);  // one entry in each table but the empty length table
    w.WriteBits(3, 4);
    for (uint32_t width : {2u, 3u, 5u, 8u, 12u, 17u, 23u}) w.WriteBits((1u << width) - 1u, width);
    for (int i = 0; i < 200; ++i) w.WriteBit(0);
    std::vector<uint8_t> body = w.bytes();
    body.resize((body.size() + 15) / 16 * 16, 0);
    EXPECT_EQ(Decode(body, static_cast<uint32_t>(w.bitCount()), 10).code, vorx_CorruptArchive);
}

TEST(BlockDecoder, StepsThatRunPastTheBodyAndItsSlackAreCorrupt) {
    // One literal symbol and one flag symbol: every step costs bits, so a step count far
    // beyond the stream walks into the zero slack and then past it.
    BlockPlan plan;
    plan.stepCount = 100000;
    plan.flags = {{1, 0}, {1, 3}};
    plan.literals = {{1, 'a'}, {1, 'b'}};
    BlockWriter w(plan);
    uint32_t bits = 0;
    const auto body = w.Finish(&bits);
    EXPECT_EQ(Decode(body, bits, 1 << 20).code, vorx_CorruptArchive);
    EXPECT_TRUE(Agree(body, bits, 1 << 20));
}

TEST(BlockDecoder, ReportsProgressAtTheFormatsSteps) {
    // A block that is the whole entry, of four steps: every step reports (interval 0).
    const ProgressSpec whole{0.0f, 1.0f};
    uint32_t bits = 0;
    const auto body = streams::EncodeSteps(Literals("abcd"), &bits);
    auto d = Decode(body, bits, 10, &whole);
    ASSERT_EQ(d.code, vorx_Success);
    EXPECT_EQ(d.progress, (std::vector<int>{0, 25, 50, 75}));
    // A block of a hundred steps that is a tenth of the entry, after 0.5 of it: one
    // report every tenth of the block (10 steps per hundredth, counted from 0).
    const auto body100 = streams::EncodeSteps(Literals(std::string(100, 'x')), &bits);
    const ProgressSpec tenth{0.5f, 0.1f};
    d = Decode(body100, bits, 100, &tenth);
    ASSERT_EQ(d.code, vorx_Success);
    ASSERT_FALSE(d.progress.empty());
    EXPECT_GE(d.progress.front(), 50);
    EXPECT_LE(d.progress.back(), 60);
    EXPECT_GE(d.progress.size(), 9u);
    EXPECT_LE(d.progress.size(), 11u);
    EXPECT_TRUE(Agree(body100, bits, 100, &tenth));
}

TEST(BlockDecoder, EachBlockStartsWithAnEmptyContextTableHoweverOftenItWasCleared) {
    // Block A leaves positions in the bucket of "bc"; block B's match at "qqqabc" would
    // find one if anything of A were still visible.
    uint32_t bitsA = 0, bitsB = 0;
    const auto a = streams::EncodeSteps(Literals("abcabc") + std::vector<Step>{Match(7, 0)}, &bitsA);
    const auto b = streams::EncodeSteps(Literals("qqqabc") + std::vector<Step>{Match(1, 0)}, &bitsB);
    for (int clears : {0, 1, 2}) {
        ASSERT_EQ(Decode(a, bitsA, 100).code, vorx_Success);
        for (int i = 0; i < clears; ++i) Contexts().Clear();
        EXPECT_EQ(Decode(b, bitsB, 100).code, vorx_CorruptArchive) << clears;
    }
}
