#pragma once
// The key object interfaces that load_lkey reads. Whoever loads keys implements them;
// the key and its descriptor keep ownership of everything they hand out, which the
// channel reads only during the call. Only these operations and their relative slot
// order are part of the contract. Platform-free.
#include <cstdint>

// A key id with the layout of a GUID: 32-bit first part, two 16-bit parts, 8 bytes.
struct vault_key_id {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};
static_assert(sizeof(vault_key_id) == 16);

class lkey_descriptor {
public:
    // The 16-byte key id; nonzero for success.
    virtual std::int32_t get_id(vault_key_id* id) = 0;
    // Optional zero-terminated texts, null when absent; return values are not used.
    virtual std::int32_t get_descriptor_text1(const char16_t** text) = 0;
    virtual std::int32_t get_descriptor_text2(const char16_t** text) = 0;

protected:
    ~lkey_descriptor() = default;
};

class lkey_source {
public:
    virtual bool get_flag() = 0;
    // Nonzero for success; the descriptor stays owned by the key.
    virtual std::int32_t get_descriptor(lkey_descriptor** descriptor) = 0;
    virtual std::int32_t get_kind(std::uint8_t* kind) = 0;
    // Optional zero-terminated text, null when absent; the return value is not used.
    virtual std::int32_t get_key_text(const char16_t** text) = 0;
    // The key bytes and their count; nonzero for success.
    virtual std::int32_t get_key_data(const std::uint8_t** data, std::uint32_t* count) = 0;

protected:
    ~lkey_source() = default;
};
