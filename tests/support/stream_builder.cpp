#include "tests/support/stream_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "codec/block_head.h"

namespace streams {
namespace {

uint32_t HeadCount(int64_t requested, size_t tableSize, uint32_t least) {
    const int64_t n = requested >= 0 ? requested : static_cast<int64_t>(tableSize);
    return n < least ? least : static_cast<uint32_t>(n);
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "stream builder: %s\n", what);
    std::abort();
}
#define Require(condition) Check((condition), #condition)

}  // namespace

BlockWriter::BlockWriter(const BlockPlan& planned) {
    // A flag, literal or slot count cannot be 0: an empty table gets one entry.
    BlockPlan plan = planned;
    for (auto* t : {&plan.flags, &plan.literals, &plan.slots})
        if (t->empty()) t->push_back(Entry{1, 0});
    const uint32_t flagCount = HeadCount(plan.flagCount, plan.flags.size(), 1);
    const uint32_t literalCount = HeadCount(plan.literalCount, plan.literals.size(), 1);
    const uint32_t lengthCount = HeadCount(plan.lengthCount, plan.lengths.size(), 0);
    const uint32_t slotCount = HeadCount(plan.slotCount, plan.slots.size(), 1);
    Require(flagCount <= 16 && literalCount <= 256 && lengthCount <= 65535 && slotCount <= 16 &&
            plan.literalWidth <= 15 && plan.stepCount < (1u << 28));
    const vorx::BlockHead head{plan.stepCount, literalCount, lengthCount, flagCount, plan.literalWidth, slotCount};
    uint32_t head1, head2;
    head.Encode(&head1, &head2);
    bits_.WriteBits(head1, 32);
    bits_.WriteBits(head2, 32);
    Table(plan.flags, 4);
    Table(plan.literals, static_cast<int>(plan.literalWidth));
    Table(plan.lengths, -1);
    Table(plan.slots, 4);
    tablesEnd_ = static_cast<uint32_t>(bits_.bitCount());

    // The trees the decoder builds: the tables as read, entries beyond those keeping
    // weight 0 (and so never inserted).
    flagTree_.Build(plan.flags);
    literalTree_.Build(plan.literals);
    lengthTree_.Build(plan.lengths);
    slotTree_.Build(plan.slots);
    flagCodes_ = CodesOf(flagTree_);
    literalCodes_ = CodesOf(literalTree_);
    lengthCodes_ = CodesOf(lengthTree_);
    slotCodes_ = CodesOf(slotTree_);
}

void BlockWriter::Table(const std::vector<Entry>& table, int symbolWidth) {
    for (const Entry& e : table) {
        if (symbolWidth < 0) {
            Require(bits_.WriteEscapedNumber(e.symbol));
        } else {
            bits_.WriteBits(e.symbol, static_cast<uint32_t>(symbolWidth));
        }
        Require(bits_.WriteEscapedNumber(e.weight));
    }
}

BlockWriter::Codes BlockWriter::CodesOf(const reference::Tree& tree) {
    Codes codes;
    for (const reference::Node* leaf : tree.Leaves()) codes.emplace(leaf->value, reference::PathOf(leaf));
    return codes;
}

void BlockWriter::Code(const reference::Tree&, const Codes& codes, uint32_t symbol) {
    const auto it = codes.find(symbol);
    Require(it != codes.end());
    for (uint8_t bit : it->second) bits_.WriteBit(bit);
}

std::vector<uint8_t> BlockWriter::Finish(uint32_t* bitCount) const {
    uint64_t bits = bits_.bitCount();
    if (bits <= tablesEnd_) bits = tablesEnd_ + 1;
    *bitCount = static_cast<uint32_t>(bits);
    std::vector<uint8_t> body = bits_.bytes();
    body.resize(((bits + 7) / 8 + 15) / 16 * 16, 0);
    return body;
}

std::vector<uint8_t> EncodeSteps(const std::vector<Step>& steps, uint32_t* bitCount,
                                 const EncodeOptions& options) {
    std::map<uint32_t, uint32_t> flagCounts, literalCounts, lengthCounts, slotCounts;
    std::vector<uint32_t> flagSymbols, slotSymbols;
    for (size_t i = 0; i < steps.size(); i += 4) {
        uint32_t symbol = 0;
        for (size_t k = 0; k < 4 && i + k < steps.size(); ++k) {
            if (steps[i + k].match) symbol |= 1u << k;
        }
        flagSymbols.push_back(symbol);
        ++flagCounts[symbol];
    }
    std::vector<uint32_t> selectors;
    for (const Step& s : steps) {
        if (s.match) {
            selectors.push_back(s.selector & 3u);
            ++lengthCounts[s.value];
        } else {
            ++literalCounts[s.value];
        }
    }
    for (size_t i = 0; i < selectors.size(); i += 2) {
        const uint32_t symbol = selectors[i] | (i + 1 < selectors.size() ? selectors[i + 1] << 2 : 0u);
        slotSymbols.push_back(symbol);
        ++slotCounts[symbol];
    }
    auto table = [&](const std::map<uint32_t, uint32_t>& counts, bool needsOne) {
        std::vector<Entry> t;
        for (const auto& [symbol, count] : counts)
            t.push_back(Entry{std::min(count, vorx::kLargestEscapedNumber), symbol});
        if (t.empty() && needsOne) t.push_back(Entry{1, 0});
        if (options.shuffle) {
            std::shuffle(t.begin(), t.end(), *options.shuffle);
        } else {
            std::stable_sort(t.begin(), t.end(), [](const Entry& a, const Entry& b) { return a.weight > b.weight; });
        }
        return t;
    };
    BlockPlan plan;
    plan.stepCount = static_cast<uint32_t>(steps.size());
    plan.literalWidth = options.literalWidth;
    plan.flags = table(flagCounts, true);
    plan.literals = table(literalCounts, true);
    plan.lengths = table(lengthCounts, false);
    plan.slots = table(slotCounts, true);
    BlockWriter writer(plan);
    size_t match = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (i % 4 == 0) writer.Flag(flagSymbols[i / 4]);
        if (steps[i].match) {
            writer.Length(steps[i].value);
            if (match % 2 == 0) writer.Slot(slotSymbols[match / 2]);
            ++match;
        } else {
            writer.Literal(steps[i].value);
        }
    }
    return writer.Finish(bitCount);
}

std::vector<Step> ParseGreedy(const uint8_t* data, size_t size, const ParseOptions& options) {
    static reference::ContextModel contexts;
    contexts.Clear();
    std::vector<Step> steps;
    size_t p = 0;
    while (p < size) {
        if (p < 3) {
            steps.push_back(Step{false, data[p], 0});
            ++p;
            continue;
        }
        const uint32_t bucket = contexts.Select(data, p);
        uint32_t bestLength = 0;
        int best = -1;
        uint32_t lengths[4] = {0, 0, 0, 0};
        for (int slot = 0; slot < 4; ++slot) {
            const int64_t source = contexts.Position(bucket, static_cast<uint32_t>(slot));
            if (source == reference::ContextModel::kEmpty) continue;
            uint32_t n = 0;
            while (n < options.maxMatch && p + n < size && data[static_cast<size_t>(source) + n] == data[p + n]) ++n;
            lengths[slot] = n;
            if (n > bestLength) {
                bestLength = n;
                best = slot;
            }
        }
        uint32_t length = bestLength;
        if (options.random && best >= 0) {
            std::mt19937& rng = *options.random;
            const uint32_t roll = rng() % 8;
            if (roll == 0) {
                best = -1;  // a literal where a match was possible
            } else if (roll == 1) {
                int slot = static_cast<int>(rng() % 4);
                if (lengths[slot] > 0) {
                    best = slot;
                    length = 1 + static_cast<uint32_t>(rng() % lengths[slot]);
                }
            }
        }
        if (best >= 0 && (length >= options.minMatch || options.random)) {
            contexts.Update(bucket, p, best);
            steps.push_back(Step{true, length, static_cast<uint32_t>(best)});
            p += length;
        } else {
            contexts.Update(bucket, p, -1);
            steps.push_back(Step{false, data[p], 0});
            ++p;
        }
    }
    return steps;
}

std::vector<uint8_t> CompressBlock(const uint8_t* data, size_t size, uint32_t* bitCount,
                                   const ParseOptions& parse, const EncodeOptions& encode) {
    return EncodeSteps(ParseGreedy(data, size, parse), bitCount, encode);
}

namespace {

// The context is null to compress every chunk, non-null to store the chunks whose
// first byte is odd (a mix of both kinds without any state to keep).
bool CompressChunk(void* mixed, const uint8_t* data, size_t length, vorx::EncodedBlock* block) {
    if (mixed && (data[0] & 1)) {
        block->type = vorx::BlockType::Stored;
        block->sizeField = static_cast<uint32_t>(length);
        block->body.assign(data, data + length);
        return true;
    }
    uint32_t bits = 0;
    std::vector<uint8_t> body = CompressBlock(data, length, &bits);
    body.resize((bits + 7) / 8);
    block->type = vorx::BlockType::Compressed;
    block->sizeField = bits;
    block->body = std::move(body);
    return true;
}

int mixedMarker;

}  // namespace

vorx::BlockEncoder CompressingEncoder(size_t chunkSize, bool mixed) {
    return vorx::BlockEncoder{&CompressChunk, mixed ? &mixedMarker : nullptr, chunkSize};
}

std::vector<uint8_t> WithSlack(std::vector<uint8_t> body, size_t slack) {
    body.resize(body.size() + slack, 0);
    return body;
}

}  // namespace streams
