#include "codec/code_tree.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "codec/bit_input.h"

namespace vorx {

// ---------------------------------------------------------------------------
// SymbolTable

bool SymbolTable::Allocate(int32_t count) {
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    if (n > capacity_) {
        Destroy();
        entries_ = static_cast<SymbolEntry*>(std::malloc(n * sizeof(SymbolEntry)));
        if (!entries_) return false;
        capacity_ = n;
    }
    count_ = 0;
    return true;
}

bool SymbolTable::Create(int32_t count) {
    if (!Allocate(count)) return false;
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    for (size_t i = 0; i < n; ++i) entries_[i] = SymbolEntry{0, static_cast<uint32_t>(i)};
    count_ = static_cast<int32_t>(n);
    return true;
}

void SymbolTable::Destroy() {
    std::free(entries_);
    entries_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

// ---------------------------------------------------------------------------
// CodeTree

// Nodes live in chunks whose addresses never move, so node pointers stay valid while
// the tree grows.
struct CodeTree::Chunk {
    Chunk* next;
    size_t capacity;
    size_t used;
    CodeTreeNode* nodes() { return reinterpret_cast<CodeTreeNode*>(this + 1); }
};

static_assert(sizeof(CodeTreeNode) % alignof(CodeTreeNode) == 0);

CodeTree::~CodeTree() { Destroy(); }

inline bool CodeTree::Reserve(size_t nodes) {
    if (chunks_ && chunks_->capacity - chunks_->used >= nodes) return true;
    size_t capacity = chunks_ ? chunks_->capacity * 2 : 64;
    if (capacity < nodes) capacity = nodes;
    if (capacity > (SIZE_MAX - sizeof(Chunk)) / sizeof(CodeTreeNode)) return false;
    Chunk* chunk =
        static_cast<Chunk*>(std::malloc(sizeof(Chunk) + capacity * sizeof(CodeTreeNode)));
    if (!chunk) return false;
    chunk->next = chunks_;
    chunk->capacity = capacity;
    chunk->used = 0;
    chunks_ = chunk;
    return true;
}

// A node from the room Reserve has made.
inline CodeTreeNode* CodeTree::TakeNode(CodeTreeNode* parent, uint32_t value, uint32_t weight) {
    assert(chunks_ && chunks_->used < chunks_->capacity);
    CodeTreeNode* node = chunks_->nodes() + chunks_->used++;
    *node = CodeTreeNode{parent, nullptr, nullptr, value, weight, 0, 0};
    return node;
}

inline CodeTreeNode* CodeTree::NewNode(CodeTreeNode* parent, uint32_t value, uint32_t weight) {
    if (!Reserve(1)) return nullptr;
    return TakeNode(parent, value, weight);
}

void CodeTree::Clear() {
    root_ = nullptr;
    maxDepth_ = 0;
    leafCount_ = 0;
    if (!chunks_) return;
    // Keep one chunk as large as all of them together, so that the next build of a
    // tree of this size allocates nothing.
    if (chunks_->next) {
        size_t total = 0;
        for (Chunk* c = chunks_; c; c = c->next) total += c->capacity;
        Destroy();
        if (!Reserve(total)) return;
    }
    chunks_->used = 0;
}

void CodeTree::Destroy() {
    while (chunks_) {
        Chunk* next = chunks_->next;
        std::free(chunks_);
        chunks_ = next;
    }
    root_ = nullptr;
    maxDepth_ = 0;
    leafCount_ = 0;
}

bool CodeTree::BuildFromTable(const SymbolTable& table) {
    return BuildFromEntries(table.entries(),
                            table.count() > 0 ? static_cast<size_t>(table.count()) : 0);
}

bool CodeTree::BuildFromEntries(const SymbolEntry* entries, size_t count) {
    Clear();
    size_t used = 0;
    while (used < count && entries[used].weight != 0) ++used;
    // The root, one node for each of the first two symbols, two for every later one.
    if (!Reserve(used < 2 ? used + 1 : 2 * used)) {
        Destroy();
        return false;
    }
    root_ = NewNode(nullptr, kInnerNodeMarker, 0);
    // The first two symbols hang from the root; every later one splits a leaf, from the
    // room reserved above.
    for (size_t i = 0; i < used && i < 2; ++i) {
        if (!InsertSymbol(entries[i].symbol, entries[i].weight)) {
            Destroy();
            return false;
        }
    }
    for (size_t i = 2; i < used; ++i) Descend(entries[i].symbol, entries[i].weight);
    return true;
}

// InsertSymbol into a root with both children, in one pass: the new weight is added to
// each node on the way down (every one of them is an ancestor of the leaf that is
// split, the root included), so no walk back up is needed. A node's weight changes
// only after the choice between its children has been made, so the choices are those
// of the walk that adds the weight afterwards.
void CodeTree::Descend(uint32_t symbol, uint32_t weight) {
    CodeTreeNode* node = root_;
    assert(node->left && node->right);
    do {
        node->weight += weight;
        node = node->right->weight > node->left->weight ? node->left : node->right;
    } while (node->left);
    const uint32_t leafWeight = node->weight;
    node->weight += weight;
    CodeTreeNode* old = TakeNode(node, node->value, leafWeight);
    CodeTreeNode* added = TakeNode(node, symbol, weight);
    const uint32_t depth = node->codeLength + 1;
    const uint32_t bit = node->codeLength < 32 ? 1u << node->codeLength : 0u;
    CodeTreeNode* zero = added;
    CodeTreeNode* one = old;
    if (weight > leafWeight) {
        zero = old;
        one = added;
    }
    node->left = zero;
    node->right = one;
    node->value = kInnerNodeMarker;
    zero->code = node->code;
    one->code = node->code | bit;
    zero->codeLength = depth;
    one->codeLength = depth;
    if (depth > maxDepth_) maxDepth_ = depth;
    ++leafCount_;
}

bool CodeTree::InsertSymbol(uint32_t symbol, uint32_t weight) {
    CodeTreeNode* node = root_;
    while (node->left && node->right)
        node = node->right->weight > node->left->weight ? node->left : node->right;
    if (node != root_) return SplitLeaf(node, symbol, weight);
    CodeTreeNode* leaf = NewNode(root_, symbol, weight);
    if (!leaf) return false;
    if (!root_->right) {
        root_->right = leaf;
    } else {
        root_->left = leaf;
    }
    AssignCode(leaf);
    if (leaf->codeLength > maxDepth_) maxDepth_ = leaf->codeLength;
    ++leafCount_;
    return true;
}

bool CodeTree::SplitLeaf(CodeTreeNode* leaf, uint32_t symbol, uint32_t weight) {
    if (!Reserve(2)) return false;
    CodeTreeNode* old = TakeNode(leaf, leaf->value, leaf->weight);
    CodeTreeNode* added = TakeNode(leaf, symbol, weight);
    if (weight <= leaf->weight) {
        leaf->left = added;
        leaf->right = old;
    } else {
        leaf->left = old;
        leaf->right = added;
    }
    leaf->value = kInnerNodeMarker;
    AssignCode(old);
    AssignCode(added);
    if (added->codeLength > maxDepth_) maxDepth_ = added->codeLength;
    ++leafCount_;
    for (CodeTreeNode* n = leaf; n; n = n->parent) n->weight += weight;
    return true;
}

const CodeTreeNode* CodeTree::NodeArray(size_t* count) const {
    // A tree that grew into a new chunk has its root in an older one.
    if (!root_ || root_ != chunks_->nodes()) return nullptr;
    *count = chunks_->used;
    return root_;
}

void CodeTree::AssignCode(CodeTreeNode* node) {
    const CodeTreeNode* parent = node->parent;
    if (!parent) return;
    const uint32_t bit = node == parent->left ? 0u : 1u;
    // Codes deeper than 32 steps keep their first 32 bits; the depth is always exact.
    node->code = parent->code | (parent->codeLength < 32 ? bit << parent->codeLength : 0u);
    node->codeLength = parent->codeLength + 1;
}

uint32_t CodeTree::DecodeSymbol(const uint8_t* buffer, uint32_t& bitPosition) const {
    const CodeTreeNode* node = root_;
    if (!node) return kNoLeafSymbol;
    while (!node->IsLeaf()) {
        const uint32_t bit = (buffer[bitPosition >> 3] >> (bitPosition & 7)) & 1u;
        ++bitPosition;
        node = bit ? node->right : node->left;
        if (!node) return kNoLeafSymbol;
    }
    return node->value;
}

// ---------------------------------------------------------------------------
// DecodeTable

DecodeTable::~DecodeTable() {
    std::free(own_);
    std::free(links_);
}

bool DecodeTable::Build(const CodeTree& tree, uint32_t rootBits, uint32_t* storage,
                        uint32_t valueMask) {
    valueMask_ = valueMask;
    rootBits_ = rootBits < kMaxRootBits ? rootBits : kMaxRootBits;
    const size_t size = size_t{1} << rootBits_;
    if (storage) {
        entries_ = storage;
    } else {
        if (size > ownCapacity_) {
            std::free(own_);
            own_ = static_cast<uint32_t*>(std::malloc(size * sizeof(uint32_t)));
            ownCapacity_ = own_ ? size : 0;
            if (!own_) return false;
        }
        entries_ = own_;
    }
    // Every entry may name a node of its own to walk on from.
    if (size > linkCapacity_) {
        std::free(links_);
        links_ = static_cast<const CodeTreeNode**>(std::malloc(size * sizeof(CodeTreeNode*)));
        linkCapacity_ = links_ ? size : 0;
        if (!links_) return false;
    }
    linkCount_ = 0;
    plain_ = true;
    // A tree no deeper than the table decides each entry by the low bits up to its
    // deepest leaf: those entries are filled, then copied up to the table's size.
    const CodeTreeNode* root = tree.root();
    fillBits_ = root && tree.maxDepth() < rootBits_ ? tree.maxDepth() : rootBits_;
    if (!root) {
        fillBits_ = 0;
        plain_ = false;
        FillStrided(0, 0, kNoLeaf << kKindShift);
    } else if (size_t count = 0; const CodeTreeNode* nodes = tree.NodeArray(&count)) {
        FillFromArray(nodes, count);
    } else {
        Fill(root, 0, 0);
    }
    for (size_t filled = size_t{1} << fillBits_; filled < size; filled *= 2) {
        // In pieces of at most 1 KiB, which a memcpy copies with vector moves.
        for (size_t at = 0; at < filled; at += 256) {
            const size_t n = filled - at < 256 ? filled - at : 256;
            std::memcpy(entries_ + filled + at, entries_ + at, n * sizeof(uint32_t));
        }
    }
    return true;
}

void DecodeTable::FillStrided(uint32_t first, uint32_t depth, uint32_t entry) {
    const uint32_t size = 1u << fillBits_;
    const uint32_t stride = 1u << depth;
    uint32_t i = first;
    // Four stores a round: the fill of the tables is most of a small block's setup.
    for (; i + 3 * stride < size; i += 4 * stride) {
        entries_[i] = entry;
        entries_[i + stride] = entry;
        entries_[i + 2 * stride] = entry;
        entries_[i + 3 * stride] = entry;
    }
    for (; i < size; i += stride) entries_[i] = entry;
}

uint32_t DecodeTable::LinkTo(const CodeTreeNode* node, uint32_t depth) {
    plain_ = false;
    links_[linkCount_] = node;
    return (linkCount_++ << kValueShift) | (kLink << kKindShift) | depth;
}

// Fills every entry whose low `depth` bits are `code`, the path to `node`.
void DecodeTable::Fill(const CodeTreeNode* node, uint32_t depth, uint32_t code) {
    if (node->IsLeaf()) {
        const uint32_t value = node->value & valueMask_;
        const uint32_t entry = value <= kLargestTableValue
                                   ? (value << kValueShift) | (kLeaf << kKindShift) | depth
                                   : LinkTo(node, depth);
        FillStrided(code, depth, entry);
        return;
    }
    if (depth == rootBits_) {
        entries_[code] = LinkTo(node, depth);
        return;
    }
    for (uint32_t bit = 0; bit < 2; ++bit) {
        const CodeTreeNode* child = bit ? node->right : node->left;
        const uint32_t childCode = code | (bit << depth);
        if (child) {
            Fill(child, depth + 1, childCode);
        } else {
            plain_ = false;
            FillStrided(childCode, depth + 1, (kNoLeaf << kKindShift) | (depth + 1));
        }
    }
}

// What Fill does, from the nodes in any order: each leaf no deeper than the filled bits
// fills the entries of its code, each inner node at the table's depth links, and a
// missing child (only the root lacks one) fills its entries as walks that find no leaf.
// Codes deeper than the table are reached through the links. A loop over an array
// rather than a recursion: it is most of the setup of a small block.
void DecodeTable::FillFromArray(const CodeTreeNode* nodes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const CodeTreeNode* node = nodes + i;
        const uint32_t depth = node->codeLength;
        if (depth > fillBits_) continue;
        if (node->IsLeaf()) {
            const uint32_t value = node->value & valueMask_;
            FillStrided(node->code, depth,
                        value <= kLargestTableValue
                            ? (value << kValueShift) | (kLeaf << kKindShift) | depth
                            : LinkTo(node, depth));
        } else if (depth == rootBits_) {
            entries_[node->code] = LinkTo(node, depth);
        } else if (!node->left || !node->right) {
            plain_ = false;
            const uint32_t missing = node->left ? node->code | (1u << depth) : node->code;
            FillStrided(missing, depth + 1, (kNoLeaf << kKindShift) | (depth + 1));
        }
    }
}

uint64_t DecodeTable::Finish(uint32_t entry, const uint8_t* buffer, uint32_t bitPosition,
                             uint32_t limitBits) const {
    bitPosition += entry & kBitsMask;
    const uint32_t kind = (entry & kKindMask) >> kKindShift;
    uint32_t symbol = kNoLeafSymbol;
    if (kind == kLeaf) {
        symbol = Value(entry);
    } else if (kind == kLink) {
        const CodeTreeNode* node = links_[Value(entry)];
        while (!node->IsLeaf()) {
            if (bitPosition >= limitBits) return kWalkPastLimit;
            const uint32_t bit = (buffer[bitPosition >> 3] >> (bitPosition & 7)) & 1u;
            ++bitPosition;
            node = bit ? node->right : node->left;
            if (!node) break;
        }
        if (node) symbol = node->value;
    }
    return (static_cast<uint64_t>(bitPosition) << 32) | symbol;
}

bool DecodeTable::Decode(const uint8_t* buffer, uint32_t& bitPosition, uint32_t limitBits,
                         uint32_t* symbol) const {
    const uint32_t entry =
        entries_[static_cast<uint32_t>(LoadLe64(buffer + (bitPosition >> 3)) >> (bitPosition & 7)) &
                 mask()];
    const uint64_t result = Finish(entry, buffer, bitPosition, limitBits);
    if (result == kWalkPastLimit) return false;
    bitPosition = static_cast<uint32_t>(result >> 32);
    *symbol = static_cast<uint32_t>(result);
    return true;
}

}  // namespace vorx
