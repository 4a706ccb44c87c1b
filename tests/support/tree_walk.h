// Walks over a built code tree for the tests: its leaves in order, and the whole path
// of a leaf (the node's `code` keeps only the first 32 steps).
#pragma once

#include <cstdint>
#include <vector>

#include "codec/code_tree.h"

namespace vorx::test {

// Calls visit(const CodeTreeNode&) for every symbol leaf of `tree`, left to right.
template <class Visit>
void ForEachLeaf(const CodeTree& tree, Visit&& visit) {
    const CodeTreeNode* n = tree.root();
    if (!n || n->IsLeaf()) return;
    for (;;) {
        while (!n->IsLeaf()) n = n->left ? n->left : n->right;
        visit(*n);
        // Climb to the first ancestor reached from its left side that has a right child.
        for (;;) {
            const CodeTreeNode* p = n->parent;
            if (!p) return;
            if (n == p->left && p->right) {
                n = p->right;
                break;
            }
            n = p;
        }
    }
}

// Calls emit(bit) for each step of the path from the root to `node`, first step first.
template <class Emit>
void EmitPath(const CodeTreeNode& node, Emit&& emit) {
    std::vector<uint32_t> steps;
    for (const CodeTreeNode* n = &node; n->parent; n = n->parent)
        steps.push_back(n == n->parent->left ? 0 : 1);
    for (size_t i = steps.size(); i-- > 0;) emit(steps[i]);
}

}  // namespace vorx::test
