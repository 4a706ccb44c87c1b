#include "tests/support/reference_decoder.h"

#include <algorithm>
#include <cstring>

namespace reference {
namespace {

uint32_t ReadBits(const uint8_t* buffer, uint32_t pos, uint32_t width) {
    uint32_t word;
    std::memcpy(&word, buffer + pos / 8, 4);
    return (word >> (pos % 8)) & ((1u << (width % 32)) - 1u);
}

// The escape code; 0 for a code beyond its 23-bit field (outside the format).
uint32_t ReadEscaped(const uint8_t* buffer, uint32_t& pos) {
    uint32_t width = 2, step = 1, sum = 0;
    uint32_t x = ReadBits(buffer, pos, width);
    pos += width;
    while (x == (1u << width) - 1u) {
        if (width == 23) return 0;
        width += step;
        sum += x;
        step += 1;
        x = ReadBits(buffer, pos, width);
        pos += width;
    }
    return x + sum + 1;
}

// One step of single-precision arithmetic, rounded as SSE rounds it. The x87 unit of a
// 32-bit x86 build keeps float expressions, and floats held in registers, at a wider
// precision until they are stored; the progress values would then depend on the
// compiler's register choices.
float Single(float value) {
    volatile float rounded = value;
    return rounded;
}

int Percent(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 100.0f) return 100;
    return static_cast<int>(value);
}

}  // namespace

std::vector<uint8_t> PathOf(const Node* node) {
    std::vector<uint8_t> bits;
    for (; node->parent; node = node->parent) bits.push_back(node == node->parent->left ? 0 : 1);
    std::reverse(bits.begin(), bits.end());
    return bits;
}

Node* Tree::NewNode(Node* parent, uint32_t value, uint32_t weight) {
    nodes_.push_back(std::make_unique<Node>());
    Node* n = nodes_.back().get();
    n->parent = parent;
    n->value = value;
    n->weight = weight;
    return n;
}

void Tree::Build(const std::vector<Entry>& table) {
    nodes_.clear();
    root_ = NewNode(nullptr, kInnerNodeMarker, 0);
    for (const Entry& e : table) {
        if (e.weight == 0) break;
        Insert(e.symbol, e.weight);
    }
}

void Tree::Insert(uint32_t symbol, uint32_t weight) {
    Node* node = root_;
    while (node->left && node->right) {
        if (node->right->weight > node->left->weight) {
            node = node->left;
        } else {
            node = node->right;
        }
    }
    if (node == root_) {
        Node* leaf = NewNode(root_, symbol, weight);
        if (!root_->right) {
            root_->right = leaf;
        } else {
            root_->left = leaf;
        }
        return;
    }
    Split(node, symbol, weight);
}

void Tree::Split(Node* leaf, uint32_t symbol, uint32_t weight) {
    Node* old = NewNode(leaf, leaf->value, leaf->weight);
    Node* added = NewNode(leaf, symbol, weight);
    if (weight <= leaf->weight) {
        leaf->left = added;
        leaf->right = old;
    } else {
        leaf->left = old;
        leaf->right = added;
    }
    leaf->value = kInnerNodeMarker;
    for (Node* n = leaf; n; n = n->parent) n->weight += weight;
}

uint32_t Tree::Decode(const uint8_t* buffer, uint32_t& pos, uint32_t limitBits, bool* overread) const {
    const Node* node = root_;
    if (!node) return kNoLeaf;
    while (node->left || node->right) {
        if (pos >= limitBits) {
            *overread = true;
            return 0;
        }
        const uint32_t bit = (buffer[pos / 8] >> (pos % 8)) & 1u;
        ++pos;
        node = bit ? node->right : node->left;
        if (!node) return kNoLeaf;
    }
    return node->value;
}

std::vector<const Node*> Tree::Leaves() const {
    std::vector<const Node*> leaves;
    if (!root_) return leaves;
    std::vector<const Node*> stack{root_};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (!n->left && !n->right) {
            if (n != root_) leaves.push_back(n);
            continue;
        }
        if (n->right) stack.push_back(n->right);
        if (n->left) stack.push_back(n->left);
    }
    return leaves;
}

ContextModel::ContextModel() : slots_(65536 * 4) { Clear(); }

void ContextModel::Clear() {
    std::fill(slots_.begin(), slots_.end(), Slot{kEmpty, 0});
    stamp_ = 100;
}

uint32_t ContextModel::Select(const uint8_t* out, uint64_t p) const {
    const uint32_t b0 = out[p - 3], b1 = out[p - 2], b2 = out[p - 1];
    uint32_t h = ((((b0 << 4) ^ b1) << 7) ^ b2) & 0xFFFF;
    if (slots_[h * 4].position == kEmpty) h = (b1 << 7) ^ b2;
    return h;
}

void ContextModel::Update(uint32_t bucket, uint64_t p, int selector) {
    Slot* s = &slots_[bucket * 4];
    if (selector >= 0) s[selector].stamp = stamp_++;
    int oldest = 0;
    for (int i = 1; i < 4; ++i) {
        if (s[i].stamp < s[oldest].stamp) oldest = i;
    }
    s[oldest].position = static_cast<int64_t>(p);
    s[oldest].stamp = 0;
}

BlockResult DecodeBlock(const uint8_t* body, uint32_t bitCount, uint32_t limitBits, uint64_t capacity,
                        float startFraction, float blockFraction, bool reportProgress) {
    BlockResult r;
    static ContextModel contexts;
    contexts.Clear();

    const uint32_t head1 = ReadBits(body, 0, 16) | (ReadBits(body, 16, 16) << 16);
    const uint32_t head2 = ReadBits(body, 32, 16) | (ReadBits(body, 48, 16) << 16);
    const uint32_t stepCount = (head1 & 0xFFFFFF) | ((head2 >> 28) << 24);
    const uint32_t literalCount = (head1 >> 24) + 1;
    const uint32_t lengthCount = head2 & 0xFFFF;
    const uint32_t flagCount = ((head2 >> 16) & 15) + 1;
    const uint32_t literalWidth = (head2 >> 20) & 15;
    const uint32_t slotCount = ((head2 >> 24) & 15) + 1;
    r.stepCount = stepCount;

    auto fresh = [](uint32_t n) {
        std::vector<Entry> t(n);
        for (uint32_t i = 0; i < n; ++i) t[i] = Entry{0, i};
        return t;
    };
    std::vector<Entry> flags = fresh(16), literals = fresh(256), lengths = fresh(lengthCount),
                       slots = fresh(16);
    uint32_t pos = 64;
    auto readTable = [&](std::vector<Entry>& table, uint32_t count, int symbolWidth) {
        for (uint32_t i = 0; i < count; ++i) {
            if (pos >= bitCount) break;
            uint32_t symbol;
            if (symbolWidth < 0) {
                symbol = ReadEscaped(body, pos);
                if (symbol == 0) return false;
            } else {
                symbol = ReadBits(body, pos, static_cast<uint32_t>(symbolWidth));
                pos += static_cast<uint32_t>(symbolWidth);
            }
            const uint32_t weight = ReadEscaped(body, pos);
            if (weight == 0) return false;
            table[i] = Entry{weight, symbol};
        }
        return true;
    };
    if (!readTable(flags, flagCount, 4) || !readTable(literals, literalCount, static_cast<int>(literalWidth)) ||
        !readTable(lengths, lengthCount, -1) || !readTable(slots, slotCount, 4) || pos >= bitCount) {
        r.code = vorx_CorruptArchive;
        return r;
    }
    Tree lengthTree, flagTree, slotTree, literalTree;
    lengthTree.Build(lengths);
    flagTree.Build(flags);
    slotTree.Build(slots);
    literalTree.Build(literals);

    std::vector<uint8_t>& out = r.output;
    uint64_t p = 0;
    uint32_t flagSymbol = 0, flagIndex = 4, slotSymbol = 0, selectorIndex = 4;
    uint32_t bucket = 0;
    int64_t snapshot[4] = {ContextModel::kEmpty, ContextModel::kEmpty, ContextModel::kEmpty,
                           ContextModel::kEmpty};
    float stepFraction = 0.0f;
    uint64_t interval = 0;
    if (reportProgress && stepCount > 0) {
        stepFraction = Single(blockFraction / static_cast<float>(stepCount));
        const float perHundredth = Single(0.01f / stepFraction);
        interval = perHundredth >= 1.8e19f ? UINT64_MAX : static_cast<uint64_t>(perHundredth);
    }
    uint64_t counter = 0;
    bool overread = false;
    auto corrupt = [&]() {
        r.code = vorx_CorruptArchive;
        return r;
    };

    for (uint64_t s = 0; s < stepCount; ++s) {
        if (p >= 3) {
            bucket = contexts.Select(out.data(), p);
            for (int i = 0; i < 4; ++i) snapshot[i] = contexts.Position(bucket, static_cast<uint32_t>(i));
        }
        if (reportProgress) {
            if (counter >= interval) {
                counter = 0;
                float t = Single(static_cast<float>(s) * stepFraction);
                t = Single(t + startFraction);
                t = Single(t * 100.0f);
                r.progress.push_back(Percent(t));
            } else {
                ++counter;
            }
        }
        if (flagIndex == 4) {
            flagSymbol = flagTree.Decode(body, pos, limitBits, &overread);
            if (overread) return corrupt();
            flagIndex = 0;
        }
        const uint32_t flag = (flagSymbol >> flagIndex) & 1u;
        ++flagIndex;
        if (p >= 3) {
            int selector = -1;
            if (flag == 1) {
                const uint32_t saved = pos;
                lengthTree.Decode(body, pos, limitBits, &overread);
                if (overread) return corrupt();
                if (selectorIndex == 4) {
                    const uint32_t symbol = slotTree.Decode(body, pos, limitBits, &overread);
                    if (overread) return corrupt();
                    selector = static_cast<int>(symbol & 3u);
                } else {
                    selector = static_cast<int>((slotSymbol >> selectorIndex) & 3u);
                }
                pos = saved;
            }
            contexts.Update(bucket, p, selector);
        }
        if (flag == 0) {
            const uint32_t literal = literalTree.Decode(body, pos, limitBits, &overread);
            if (overread) return corrupt();
            if (out.size() >= capacity) return corrupt();
            out.push_back(static_cast<uint8_t>(literal & 0xFF));
            p += 1;
        } else {
            const uint32_t length = lengthTree.Decode(body, pos, limitBits, &overread);
            if (overread) return corrupt();
            if (selectorIndex == 4) {
                slotSymbol = slotTree.Decode(body, pos, limitBits, &overread);
                if (overread) return corrupt();
                selectorIndex = 0;
            }
            const uint32_t selector = (slotSymbol >> selectorIndex) & 3u;
            selectorIndex += 2;
            const int64_t source = snapshot[selector];
            if (source == ContextModel::kEmpty) return corrupt();
            for (uint64_t i = 0; i < length; ++i) {
                if (out.size() >= capacity) return corrupt();
                out.push_back(out[static_cast<size_t>(source) + i]);
            }
            p += length;
        }
    }
    return r;
}

}  // namespace reference
