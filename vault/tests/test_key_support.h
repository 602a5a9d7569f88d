#pragma once
// An in-memory key for load_lkey: every answer and every failure is set by the test, and
// the order of the queries is recorded.
#include <cstdint>
#include <string>
#include <vector>

#include "vault/lkey.h"

struct test_key final : lkey_source, lkey_descriptor {
    vault_key_id id{0x12345607, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    std::uint8_t kind = 1;
    std::vector<std::uint8_t> key_data;
    const char16_t* key_text = nullptr;
    const char16_t* text1 = nullptr;
    const char16_t* text2 = nullptr;
    bool flag = true;
    bool descriptor_fails = false, descriptor_null = false, id_fails = false, kind_fails = false,
         key_data_fails = false;
    std::vector<std::string> queries;

    bool get_flag() override { queries.push_back("flag"); return flag; }
    std::int32_t get_descriptor(lkey_descriptor** d) override {
        queries.push_back("descriptor");
        *d = descriptor_null ? nullptr : this;
        return !descriptor_fails;
    }
    std::int32_t get_kind(std::uint8_t* k) override { queries.push_back("kind"); *k = kind; return !kind_fails; }
    std::int32_t get_key_text(const char16_t** t) override {
        queries.push_back("key_text");
        if (*t != nullptr) queries.push_back("key_text not preset to null");
        *t = key_text;
        return 0;  // not used
    }
    std::int32_t get_key_data(const std::uint8_t** data, std::uint32_t* count) override {
        queries.push_back("key_data");
        *data = key_data.data();
        *count = static_cast<std::uint32_t>(key_data.size());
        return !key_data_fails;
    }
    std::int32_t get_id(vault_key_id* out) override { queries.push_back("id"); *out = id; return !id_fails; }
    std::int32_t get_descriptor_text1(const char16_t** t) override {
        queries.push_back("text1");
        *t = text1;
        return 0;
    }
    std::int32_t get_descriptor_text2(const char16_t** t) override {
        queries.push_back("text2");
        *t = text2;
        return 0;
    }
};

// The id above in its 16-byte wire form.
inline const std::vector<std::uint8_t> test_key_id_bytes = {
    0x07, 0x56, 0x34, 0x12, 0xAB, 0x89, 0xEF, 0xCD, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

// A key whose record uses every optional field: a two-byte kind varint, all three texts
// (a BMP character and a surrogate pair among them) and a clear flag.
inline void fill_with_every_field(test_key& key) {
    key.kind = 200;
    key.flag = false;
    key.key_data = {0x00, 0xFF};
    key.key_text = u"\x20AC";
    key.text1 = u"d1";
    key.text2 = u"\xD83D\xDE00";
}
