#pragma once
// A text that may hold a call's secrets (an envelope, a result): every heap block it ever
// used is wiped before it goes back (the allocator), and so are the units held inside the
// object itself for short texts (the destructor). Platform-free.
#include <cstddef>
#include <memory>
#include <string>

#include "xml/xml_char.h"

namespace rx_client {

// Overwrites `bytes` bytes with zeros in a way the optimiser keeps (the system's one wipe).
void wipe_memory(void* block, std::size_t bytes) noexcept;

template <typename T>
struct wiping_allocator {
    using value_type = T;
    wiping_allocator() noexcept = default;
    template <typename U>
    wiping_allocator(const wiping_allocator<U>&) noexcept {}
    T* allocate(std::size_t count) { return std::allocator<T>().allocate(count); }
    void deallocate(T* block, std::size_t count) noexcept {
        wipe_memory(block, count * sizeof(T));
        std::allocator<T>().deallocate(block, count);
    }
    template <typename U>
    bool operator==(const wiping_allocator<U>&) const noexcept { return true; }
};

class wiped_text : public std::basic_string<xml_char, std::char_traits<xml_char>, wiping_allocator<xml_char>> {
public:
    using base = std::basic_string<xml_char, std::char_traits<xml_char>, wiping_allocator<xml_char>>;
    using base::base;
    wiped_text(const wiped_text&) = default;
    wiped_text(wiped_text&&) = default;
    wiped_text& operator=(const wiped_text&) = default;
    wiped_text& operator=(wiped_text&&) = default;
    // The whole buffer, terminator included: a moved-from short text keeps its old units.
    ~wiped_text() { wipe_memory(data(), (capacity() + 1) * sizeof(xml_char)); }
};

}  // namespace rx_client
