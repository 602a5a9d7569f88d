#include "xml/xml_attribute_index.h"

#include <new>
#include <random>

#include "xml/xml_tree_walk.h"

namespace {
constexpr std::size_t scanned_attributes = kvxml_attribute_index::scanned_attributes;

std::uint64_t random_seed() noexcept {
    try {
        std::random_device source;
        return (std::uint64_t{source()} << 32) ^ source();
    } catch (...) {
        // No random source: the address of a local still differs between processes.
        int local = 0;
        return reinterpret_cast<std::uintptr_t>(&local) * 0x9E3779B97F4A7C15ull;
    }
}

std::uint64_t seed() noexcept {
    static const std::uint64_t value = random_seed();
    return value;
}

// The name's hash with A..Z folded, from the secret seed, with a full-avalanche finish
// so that the low bits (the table index) depend on every unit.
std::uint64_t kvxml_name_hash(const xml_char* name, std::int32_t length) noexcept {
    // Four folded units a step (one multiply each), then the rest one by one. Every step is
    // a bijection of the state, so names of one length never meet before the finish.
    std::uint64_t h = seed();
    std::int32_t i = 0;
    for (; i + 4 <= length; i += 4) {
        const std::uint64_t word = std::uint64_t{xml_fold(name[i])} | std::uint64_t{xml_fold(name[i + 1])} << 16 |
                                   std::uint64_t{xml_fold(name[i + 2])} << 32 |
                                   std::uint64_t{xml_fold(name[i + 3])} << 48;
        h = (h ^ word) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
    }
    for (; i < length; ++i) h = (h ^ xml_fold(name[i])) * 0x100000001B3ull;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
}
}  // namespace

KVXML_attrib* kvxml_attribute_index::slot_indexed(const xml_char* name, std::int32_t length) {
    std::uint64_t hash = 0;
    std::size_t free_entry = 0;  // where the probe for a missing name ended
    if (table_.empty()) {
        for (KVXML_attrib* a = node_->first_attribute; a; a = a->next) {
            if (kvxml_equal_run_nocase(a->name.c_str(), name, length)) return a;
        }
    } else {
        hash = kvxml_name_hash(name, length);
        const std::size_t mask = table_.size() - 1;
        std::size_t i = hash & mask;
        for (; table_[i].attribute; i = (i + 1) & mask) {
            if (table_[i].hash == hash &&
                kvxml_equal_run_nocase(table_[i].attribute->name.c_str(), name, length))
                return table_[i].attribute;
        }
        free_entry = i;
    }
    last_ = append(name, length);
    ++count_;
    if (!table_.empty()) {
        if (2 * count_ > table_.size()) {
            grow();  // at most half full: short probe chains
            insert(hash, last_);
        } else {
            table_[free_entry] = {hash, last_};
        }
    } else if (count_ > scanned_attributes) {
        index_list();
    }
    return last_;
}

void kvxml_attribute_index::index_list() {
    std::size_t size = 16;
    while (size < 4 * count_) size *= 2;
    // assign writes only the new size, whatever a larger node before left behind.
    table_.assign(size, entry{0, nullptr});
    for (KVXML_attrib* a = node_->first_attribute; a; a = a->next)
        insert(kvxml_name_hash(a->name.c_str(), a->name.length()), a);
}

void kvxml_attribute_index::grow() {
    // The entries keep their hashes, so the attributes need not be read again.
    std::vector<entry> old(4 * table_.size(), entry{0, nullptr});
    old.swap(table_);
    for (const entry& e : old) {
        if (e.attribute) insert(e.hash, e.attribute);
    }
}

void kvxml_attribute_index::insert(std::uint64_t hash, KVXML_attrib* attribute) noexcept {
    const std::size_t mask = table_.size() - 1;
    std::size_t i = hash & mask;
    while (table_[i].attribute) i = (i + 1) & mask;
    table_[i] = {hash, attribute};
}
