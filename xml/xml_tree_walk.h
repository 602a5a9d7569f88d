#pragma once
// Iterative depth-first walks of a subtree in document order, using the parent and
// sibling links instead of the call stack.
//
// A walk climbs back up through parent links, so it must only go down links whose parent
// link agrees: a caller that breaks append_child's contract can leave a node in one
// child list while its parent link names another node, or none, and climbing from there
// would leave the subtree, circle for ever or fall off the top. So a walk enters a child
// or a sibling only when its parent link names the node the walk is below; the rest of
// that list is passed over as if it ended there. Every climb then retraces the way down.
#include "xml/xml_model.h"

// The first child of n that a walk may enter, or null.
inline KVXML_node* kvxml_first_child(const KVXML_node* n) noexcept {
    KVXML_node* c = n->first_child;
    return (c && c->parent == n) ? c : nullptr;
}

// The next sibling of n that a walk may enter, or null.
inline KVXML_node* kvxml_next_sibling(const KVXML_node* n) noexcept {
    KVXML_node* s = n->next_sibling;
    return (s && s->parent == n->parent) ? s : nullptr;
}

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
        if (decision) {
            if (KVXML_node* child = kvxml_first_child(n)) { n = child; continue; }
        }
        // Climb until a node with a next sibling; a missing parent ends the walk.
        while (n && n != top && !kvxml_next_sibling(n)) n = n->parent;
        n = (!n || n == top) ? nullptr : kvxml_next_sibling(n);
    }
}

// True when the NUL-terminated z equals run[0..n) with A..Z folded.
bool kvxml_equal_run_nocase(const xml_char* z, const xml_char* run, std::int32_t n) noexcept;
