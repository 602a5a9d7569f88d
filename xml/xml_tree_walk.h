#pragma once
// Iterative depth-first walk of a subtree in document order, using the parent and
// sibling links instead of the call stack.
#include "xml/xml_model.h"

// visit(node) returns kvxml_walk_into to go into the node's children, kvxml_walk_over
// to pass over them, or kvxml_walk_stop to end the walk. The walk starts at (and visits) top and never
// leaves its subtree.
inline constexpr int kvxml_walk_over = 0;
inline constexpr int kvxml_walk_into = 1;
inline constexpr int kvxml_walk_stop = 2;

template <typename Visit>
void kvxml_walk(KVXML_node* top, Visit&& visit) {
    KVXML_node* n = top;
    while (n) {
        const int decision = static_cast<int>(visit(n));
        if (decision == kvxml_walk_stop) return;
        if (decision && n->first_child) { n = n->first_child; continue; }
        while (n != top && !n->next_sibling) n = n->parent;
        n = (n == top) ? nullptr : n->next_sibling;
    }
}

// True when the NUL-terminated z equals run[0..n) with A..Z folded.
bool kvxml_equal_run_nocase(const xml_char* z, const xml_char* run, std::int32_t n) noexcept;
