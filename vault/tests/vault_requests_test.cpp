// Byte-exact request messages of every operation, encoded without the driver.
#include <gtest/gtest.h>

#include "tests/support/bytes.h"
#include "tests/support/recording_allocator.h"
#include "vault/tests/test_key_support.h"
#include "vault/vault_requests.h"

namespace {
bytes written(const ProtocolBuffersWriter& w) { return bytes(w.data(), w.data() + w.position()); }

// The request written in frames that have returned by the time the probe below, called
// from the same place, reads that part of the stack; the padding moves those frames
// below the probe's own bookkeeping, into the region it reads.
[[gnu::noinline]] void write_unload_lkey_apart(ProtocolBuffersWriter& w, const vault_key_id& id) {
    std::uint8_t padding[256] = {};
    __asm__ __volatile__("" : : "r"(padding) : "memory");  // kept, though never read
    vault_request::write_unload_lkey(w, id);
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
[[gnu::noinline]] bool stack_below_holds(const bytes& pattern) {
    volatile std::uint8_t region[4096];  // left as the returned frames left it
    for (std::size_t i = 0; i + pattern.size() <= sizeof region; ++i) {
        std::size_t k = 0;
        while (k < pattern.size() && region[i + k] == pattern[k]) ++k;
        if (k == pattern.size()) return true;
    }
    return false;
}
#pragma GCC diagnostic pop

bytes key32() {
    bytes k;
    for (int i = 0; i < 32; ++i) k.push_back(static_cast<std::uint8_t>(i * 7));
    return k;
}

TEST(VaultRequestsTest, SimpleOperations) {
    const vault_key_id id{0x12345607, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    const struct { const char* name; void (*write)(ProtocolBuffersWriter&); bytes expected; } rows[] = {
        {"send_operation_5", [](ProtocolBuffersWriter& w) { vault_request::write_operation(w, 5); }, hex("08 05")},
        {"unload_user_bkeys(null)",
         [](ProtocolBuffersWriter& w) { vault_request::write_user_operation(w, vault_request::op_unload_user_bkeys, nullptr); },
         hex("08 09")},
        {"remove_sso_data(null)",
         [](ProtocolBuffersWriter& w) { vault_request::write_user_operation(w, vault_request::op_remove_sso_data, nullptr); },
         hex("08 0F")},
        {"unload_user_bkeys(S-1-5-18)",
         [](ProtocolBuffersWriter& w) { vault_request::write_user_operation(w, vault_request::op_unload_user_bkeys, "S-1-5-18"); },
         hex("08 09 4A 08") + text_bytes("S-1-5-18")},
        {"remove_sso_data(S-1-5-18)",
         [](ProtocolBuffersWriter& w) { vault_request::write_user_operation(w, vault_request::op_remove_sso_data, "S-1-5-18"); },
         hex("08 0F 4A 08") + text_bytes("S-1-5-18")},
        {"remove_sso_data(empty)",
         [](ProtocolBuffersWriter& w) { vault_request::write_user_operation(w, vault_request::op_remove_sso_data, ""); },
         hex("08 0F 4A 00")},
        {"unload_user_bkeys(Latin-1)",
         [](ProtocolBuffersWriter& w) { vault_request::write_user_operation(w, vault_request::op_unload_user_bkeys, "J\xF6rg"); },
         hex("08 09 4A 05 4A C3 B6 72 67")},
    };
    for (const auto& row : rows) {
        ProtocolBuffersWriter w(recording_allocator::functions());
        row.write(w);
        EXPECT_EQ(written(w), row.expected) << row.name;
    }
    ProtocolBuffersWriter w(recording_allocator::functions());
    write_unload_lkey_apart(w, id);
    EXPECT_FALSE(stack_below_holds(test_key_id_bytes)) << "the key id's bytes stayed on the stack";
    EXPECT_EQ(written(w), hex("08 06 12 10") + test_key_id_bytes);
    EXPECT_EQ(w.size(), 20u);
}

TEST(VaultRequestsTest, LoadLkeyRecords) {
    const struct { const char* name; void (*setup)(test_key&); bytes expected; } rows[] = {
        {"kind 1, 32 key bytes, no texts, flag set", [](test_key& k) { k.key_data = key32(); },
         hex("08 07 18 01 42 20") + key32() + hex("12 10") + test_key_id_bytes + hex("38 01")},
        {"kind 200, flag clear",
         [](test_key& k) { k.kind = 200; k.flag = false; k.key_data = {0xAA}; },
         hex("08 07 18 C8 01 42 01 AA 12 10") + test_key_id_bytes + hex("38 00")},
        {"kind 0, no key bytes", [](test_key& k) { k.kind = 0; },
         hex("08 07 18 00 42 00 12 10") + test_key_id_bytes + hex("38 01")},
        {"all three texts, written 4, 5, 6",
         [](test_key& k) { k.key_data = {0x01, 0x02}; k.key_text = u"k\x20AC"; k.text1 = u"one"; k.text2 = u"\xD83D\xDE00"; },
         hex("08 07 18 01 42 02 01 02 12 10") + test_key_id_bytes + hex("22 03") + text_bytes("one") +
             hex("2A 06 ED A0 BD ED B8 80 32 04 6B E2 82 AC 38 01")},
        {"only the second descriptor text", [](test_key& k) { k.text2 = u""; },
         hex("08 07 18 01 42 00 12 10") + test_key_id_bytes + hex("2A 00 38 01")},
    };
    for (const auto& row : rows) {
        test_key key;
        row.setup(key);
        ProtocolBuffersWriter w(recording_allocator::functions());
        EXPECT_EQ(vault_request::write_load_lkey(w, key), 0) << row.name;
        EXPECT_EQ(written(w), row.expected) << row.name << "\n" << to_hex(written(w));
    }
}

TEST(VaultRequestsTest, LoadLkeyRequestIsFiftyEightBytes) {
    test_key key;
    key.key_data = key32();
    ProtocolBuffersWriter w(recording_allocator::functions());
    vault_request::write_load_lkey(w, key);
    EXPECT_EQ(w.size(), 58u);
}

TEST(VaultRequestsTest, KeyQueriesInOrder) {
    test_key key;
    ProtocolBuffersWriter w(recording_allocator::functions());
    vault_request::write_key(w, key);
    EXPECT_EQ(key.queries, (std::vector<std::string>{"descriptor", "id", "kind", "key_data", "key_text",
                                                     "text1", "text2", "flag"}));
}

TEST(VaultRequestsTest, UnobtainableKeyPartsAreInvalidArguments) {
    const struct { const char* name; void (*setup)(test_key&); } rows[] = {
        {"descriptor fails", [](test_key& k) { k.descriptor_fails = true; }},
        {"descriptor null", [](test_key& k) { k.descriptor_null = true; }},
        {"id fails", [](test_key& k) { k.id_fails = true; }},
        {"kind fails", [](test_key& k) { k.kind_fails = true; }},
        {"key data fails", [](test_key& k) { k.key_data_fails = true; }},
    };
    for (const auto& row : rows) {
        test_key key;
        row.setup(key);
        ProtocolBuffersWriter w(recording_allocator::functions());
        EXPECT_EQ(static_cast<std::uint32_t>(vault_request::write_load_lkey(w, key)), 0x80070057u) << row.name;
        EXPECT_EQ(written(w), hex("08 07")) << row.name << ": record partly written";
    }
}
}  // namespace
