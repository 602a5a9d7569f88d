#pragma once
// A temporary index of the attributes of one node while it is being filled (by the parser,
// or by a copy), so that setting n attributes costs O(n) instead of comparing each new
// name with every earlier one. The rule stays that of set_attribute: a name already there
// (A..Z folded) gets the new value in its old place, a new name goes to the end.
//
// Few attributes are found by scanning the list; past that the names go into an
// open-addressing table keyed by a hash with a per-process random seed, so that a
// hostile text cannot choose names that all land in one probe chain.
#include <cstdint>
#include <vector>

#include "xml/xml_model.h"
#include "xml/xml_tree_walk.h"

class kvxml_attribute_index {
public:
    // Starts on a node that has no attributes yet; forgets the previous node. New
    // attributes come from the arena when one is given (the parser's), else from the heap.
    void begin(KVXML_node* node, kvxml_arena* arena = nullptr) noexcept {
        node_ = node;
        arena_ = arena;
        last_ = nullptr;
        count_ = 0;
        if (!table_.empty()) table_.clear();
    }
    // Up to this many attributes a scan of the list is cheaper than hashing.
    static constexpr std::size_t scanned_attributes = 8;

    // The node's attribute of that name, appended to its list when missing.
    KVXML_attrib* slot(const xml_char* name, std::int32_t length) {
        if (count_ >= scanned_attributes) return slot_indexed(name, length);
        // Few attributes: a scan, deciding most names by their length.
        for (KVXML_attrib* a = node_->first_attribute; a; a = a->next) {
            // Names of one length mostly differ in their first unit: decided here.
            if (a->name.length() == length && (length == 0 || xml_fold(a->name.c_str()[0]) == xml_fold(name[0])) &&
                kvxml_equal_run_nocase(a->name.c_str(), name, length))
                return a;
        }
        last_ = append(name, length);
        ++count_;
        return last_;
    }

private:
    struct entry {
        std::uint64_t hash;
        KVXML_attrib* attribute;  // null: free
    };
    KVXML_attrib* slot_indexed(const xml_char* name, std::int32_t length);
    void index_list();  // puts every attribute of the list into a new table
    void grow();        // quadruples the table (fewer moves of its entries)
    void insert(std::uint64_t hash, KVXML_attrib* attribute) noexcept;

    // Inline: the parser appends most attributes, each in its arena.
    KVXML_attrib* append(const xml_char* name, std::int32_t length) {
        kvxml_chunk* chunk = nullptr;
        xml_char* arena_name = nullptr;
        void* block = arena_ ? arena_->allocate_with_text<KVXML_attrib>(length, chunk, arena_name) : nullptr;
        if (!block) return node_->link_attribute(name, length, last_);
        kvxml_copy_units(arena_name, name, length);
        arena_name[length] = 0;
        auto* added = ::new (block) KVXML_attrib(arena_name, length);
        added->prev = last_;
        (last_ ? last_->next : node_->first_attribute) = added;
        return added;
    }

    KVXML_node* node_ = nullptr;
    kvxml_arena* arena_ = nullptr;
    KVXML_attrib* last_ = nullptr;
    std::size_t count_ = 0;
    std::vector<entry> table_;  // empty while the list is scanned; else a power of two
};
