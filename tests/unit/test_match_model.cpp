// The compressor's copy of the decoder's context table, against a table kept the way
// the format describes it: 65536 buckets of four slots with stamps, the three-byte
// bucket when its slot 0 holds a position and the two-byte bucket otherwise, a match
// stamping its slot with a counter that starts at 100, every step's position going to
// the slot of the smallest stamp (the lowest among equals) with stamp 0.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "writer/prices.h"
#include "writer/match_model.h"
#include "writer/parsers.h"

namespace vorx {
namespace {

using Bytes = std::vector<uint8_t>;

class StampTable {
public:
    StampTable() : position_(65536 * 4, 0), stamp_(65536 * 4, 0) {}

    uint32_t Select(const Bytes& d, size_t p) const {
        const uint32_t b0 = d[p - 3], b1 = d[p - 2], b2 = d[p - 1];
        const uint32_t h = ((((b0 << 4) ^ b1) << 7) ^ b2) & 0xFFFF;
        if (position_[h * 4] != 0) return h;
        return (b1 << 7) ^ b2;
    }
    uint32_t Position(uint32_t bucket, uint32_t slot) const { return position_[bucket * 4 + slot]; }

    void Step(uint32_t bucket, size_t p, uint32_t slot) {
        if (slot < 4) stamp_[bucket * 4 + slot] = counter_++;
        uint32_t victim = 0;
        for (uint32_t k = 1; k < 4; ++k)
            if (stamp_[bucket * 4 + k] < stamp_[bucket * 4 + victim]) victim = k;
        position_[bucket * 4 + victim] = static_cast<uint32_t>(p) + 1;
        stamp_[bucket * 4 + victim] = 0;
    }

private:
    std::vector<uint32_t> position_, stamp_;
    uint32_t counter_ = 100;
};

// Data with every kind of repetition: runs, short periods, copies of earlier pieces.
Bytes Repetitive(size_t n, uint32_t alphabet, std::mt19937& rng) {
    Bytes d;
    while (d.size() < n) {
        const uint32_t kind = rng() % 4;
        if (kind == 0 || d.size() < 8) {
            d.push_back(static_cast<uint8_t>(rng() % alphabet));
        } else if (kind == 1) {
            const size_t from = rng() % d.size(), len = 1 + rng() % 40;
            for (size_t i = 0; i < len; ++i) d.push_back(d[from + i]);
        } else if (kind == 2) {
            d.insert(d.end(), 1 + rng() % 20, static_cast<uint8_t>(rng() % alphabet));
        } else {
            const size_t period = 1 + rng() % 6;
            for (size_t i = 0, start = d.size() - period; i < 30; ++i) d.push_back(d[start + i]);
        }
    }
    d.resize(n);
    return d;
}

TEST(MatchModel, FollowsTheTableOfStampsStepForStep) {
    std::mt19937 rng(77);
    for (int round = 0; round < 60; ++round) {
        const Bytes d = Repetitive(1 + rng() % 3000, round % 3 == 0 ? 256 : 1 + rng() % 6, rng);
        const size_t n = d.size();
        MatchModel model;
        model.Clear(d.data(), n);
        StampTable reference;
        size_t p = std::min<size_t>(3, n);
        while (p < n) {
            const uint32_t bucket = reference.Select(d, p);
            ASSERT_EQ(model.Select(p), bucket) << "round " << round << " p " << p;
            const ModelBucket b = model.Get(bucket);
            const size_t limit = std::min<size_t>(n - p, 1 + rng() % 300);
            uint32_t lengths[4];
            model.Lengths(bucket, p, limit, lengths);
            std::vector<uint32_t> usable;
            for (uint32_t k = 0; k < 4; ++k) {
                ASSERT_EQ(b.position[k], reference.Position(bucket, k)) << "round " << round << " p " << p;
                uint32_t expected = 0;
                if (b.position[k]) {
                    while (expected < limit && d[b.position[k] - 1 + expected] == d[p + expected]) ++expected;
                }
                ASSERT_EQ(lengths[k], expected) << "round " << round << " p " << p << " slot " << k;
                if (expected) usable.push_back(k);
            }
            // A literal, or a match from a slot that matches, of a random length.
            uint32_t slot = kLiteralSlot, length = 1;
            if (!usable.empty() && rng() % 3 != 0) {
                slot = usable[rng() % usable.size()];
                length = 1 + rng() % lengths[slot];
            }
            model.Step(bucket, p, slot);
            reference.Step(bucket, p, slot);
            p += length;
        }
    }
}

TEST(MatchModel, ClearEmptiesEveryBucket) {
    const Bytes d(100, 'a');
    MatchModel model;
    model.Clear(d.data(), d.size());
    for (size_t p = 3; p < 50; ++p) model.Step(model.Select(p), p, kLiteralSlot);
    EXPECT_NE(model.Get(model.Select(50)).position[0], 0u);
    model.Clear(d.data(), d.size());
    for (uint32_t index = 0; index < MatchModel::kBuckets; ++index) ASSERT_FALSE(model.Written(index));
    uint32_t lengths[4];
    model.Lengths(model.Select(50), 50, 50, lengths);
    EXPECT_EQ(lengths[0] + lengths[1] + lengths[2] + lengths[3], 0u);
}

// Every parser's steps are valid for the decoder: each match names a slot that holds
// a position from which `length` bytes equal the ones at the step, the first three
// steps are literals, and the steps cover the block exactly.
TEST(Parsers, StepsAreValidForTheDecoder) {
    std::mt19937 rng(5);
    MatchModel model;
    OptimalParser optimal;
    std::vector<uint64_t> scratch;
    for (int round = 0; round < 90; ++round) {
        const Bytes d = Repetitive(1 + rng() % 5000, round % 2 ? 3 : 256, rng);
        Prices prices;
        DefaultPrices(d.data(), d.size(), &prices);
        ParseOptions options;
        options.window = 8 + rng() % 100;
        options.commit = 1 + rng() % options.window;
        options.nice = 2 + rng() % 60;
        std::vector<Step> steps;
        std::vector<uint32_t> value, until;
        switch (round % 4) {
            case 0: GreedyParse(model, prices, d.data(), d.size(), options, &steps, &scratch); break;
            case 1: LazyParse(model, prices, d.data(), d.size(), options, &steps, &scratch); break;
            case 2: optimal.Run(model, prices, d.data(), d.size(), options, &steps); break;
            default:
                LazyParse(model, prices, d.data(), d.size(), options, &steps, &scratch);
                FutureValues(d.data(), d.size(), steps, prices, 16, &value, &until);
                options.keepValue = value.data();
                options.keepUntil = until.data();
                optimal.Run(model, prices, d.data(), d.size(), options, &steps);
                break;
        }
        StampTable reference;
        size_t p = 0;
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step s = steps[i];
            ASSERT_LT(p, d.size());
            if (p < 3) {
                ASSERT_FALSE(IsMatch(s)) << "round " << round;
                ++p;
                continue;
            }
            const uint32_t bucket = reference.Select(d, p);
            if (IsMatch(s)) {
                const uint32_t from = reference.Position(bucket, StepSlot(s));
                ASSERT_NE(from, 0u) << "round " << round << " step " << i;
                ASSERT_LE(p + StepLength(s), d.size());
                for (uint32_t k = 0; k < StepLength(s); ++k)
                    ASSERT_EQ(d[from - 1 + k], d[p + k]) << "round " << round << " step " << i;
            }
            reference.Step(bucket, p, IsMatch(s) ? StepSlot(s) : kLiteralSlot);
            p += StepLength(s);
        }
        EXPECT_EQ(p, d.size()) << "round " << round;
    }
}

// A run far longer than 65535 bytes is one match of one length symbol.
TEST(Parsers, LongRunsAreSingleMatches) {
    const Bytes d(300000, 'z');
    MatchModel model;
    OptimalParser optimal;
    std::vector<uint64_t> scratch;
    Prices prices;
    DefaultPrices(d.data(), d.size(), &prices);
    std::vector<Step> steps;
    for (int parser = 0; parser < 3; ++parser) {
        if (parser == 0) GreedyParse(model, prices, d.data(), d.size(), ParseOptions{}, &steps, &scratch);
        else if (parser == 1) LazyParse(model, prices, d.data(), d.size(), ParseOptions{}, &steps, &scratch);
        else optimal.Run(model, prices, d.data(), d.size(), ParseOptions{}, &steps);
        ASSERT_LE(steps.size(), 6u) << "parser " << parser;
        uint32_t longest = 0;
        for (Step s : steps) longest = std::max(longest, IsMatch(s) ? StepLength(s) : 0u);
        EXPECT_GT(longest, 290000u) << "parser " << parser;
    }
}

}  // namespace
}  // namespace vorx
