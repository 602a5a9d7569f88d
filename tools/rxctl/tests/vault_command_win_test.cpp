// rxctl vault end to end: the real rxctl.exe against the vault-driver double, checking what
// it prints, its exit code and the request the driver received.
#include "tools/rxctl/tests/rxctl_runner_win.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/doubles/vault_driver_double_win.h"
#include "tests/support/bytes.h"

namespace {
using vault_double::reply;

const bytes id_bytes = {0x07, 0x56, 0x34, 0x12, 0xAB, 0x89, 0xEF, 0xCD,
                        0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

struct VaultCommandTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(vault_double::start());
        vault_double::script({});
        vault_double::clear_requests();
    }
};

TEST_F(VaultCommandTest, OperationsAndTheirRequests) {
    const struct { const wchar_t* args; bytes payload; } rows[] = {
        {L"vault send-op5", {0x08, 0x05}},
        {L"VAULT Send-Op5", {0x08, 0x05}},
        {L"vault unload-user-bkeys", {0x08, 0x09}},
        {L"vault unload-user-bkeys S-1-5-18", bytes{0x08, 0x09, 0x4A, 0x08} + text_bytes("S-1-5-18")},
        {L"vault remove-sso-data", {0x08, 0x0F}},
        {L"vault remove-sso-data S-1-5-21-0-0-0-1000", bytes{0x08, 0x0F, 0x4A, 0x13} + text_bytes("S-1-5-21-0-0-0-1000")},
        {L"vault unload-lkey {12345607-89ab-CDEF-0123-456789ABCDEF}", bytes{0x08, 0x06, 0x12, 0x10} + id_bytes},
        {L"vault load-lkey --kind 1 --key 00112233445566778899AABBCCDDEEFF00112233445566778899aabbccddeeff "
         L"--id {12345607-89AB-CDEF-0123-456789ABCDEF} --flag",
         bytes{0x08, 0x07, 0x18, 0x01, 0x42, 0x20, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
               0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
               0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x12, 0x10} +
             id_bytes + bytes{0x38, 0x01}},
        {L"vault load-lkey --id {12345607-89AB-CDEF-0123-456789ABCDEF} --key-text k --kind 200 --key \"\" "
         L"--text2 two --text1 \x20AC",
         bytes{0x08, 0x07, 0x18, 0xC8, 0x01, 0x42, 0x00, 0x12, 0x10} + id_bytes +
             bytes{0x22, 0x03, 0xE2, 0x82, 0xAC, 0x2A, 0x03} + text_bytes("two") + bytes{0x32, 0x01, 'k', 0x38, 0x00}},
    };
    for (const auto& row : rows) {
        vault_double::clear_requests();
        const rxctl_result r = run_rxctl(row.args);
        EXPECT_EQ(r.out, "10000000\n") << r.err;
        EXPECT_EQ(r.exit_code, 0u);
        const auto frames = vault_double::requests();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(bytes(frames[0].begin() + 16, frames[0].end()), row.payload);
    }
}

TEST_F(VaultCommandTest, ResultDecidesTheExitCode) {
    const struct { reply answer; const char* out; DWORD exit_code; } rows[] = {
        {reply::answer(0, {0x00, 0x00}), "10000000\n", 0},
        {reply::answer(0, {}), "00000000\n", 0},
        {reply::answer(0, {0x00, 0xB4, 0x80, 0x80, 0x80, 0x0C}), "D0000034\n", 1},
        {reply::answer(static_cast<std::int32_t>(0xC0000022), {}), "D0000022\n", 1},
        {reply::raw({0x01, 0x02}), "80070057\n", 1},
    };
    for (const auto& row : rows) {
        vault_double::script({row.answer});
        const rxctl_result r = run_rxctl(L"vault remove-sso-data S-1-5-18");
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.exit_code, row.exit_code) << row.out;
        // A failure is named in words as well; a success is not.
        EXPECT_EQ(r.err.empty(), row.exit_code == 0) << r.err;
        if (row.exit_code != 0) EXPECT_EQ(r.err.rfind("rxctl vault: " + std::string(row.out, 8), 0), 0u) << r.err;
    }
}

TEST_F(VaultCommandTest, UsageErrors) {
    const wchar_t* rows[] = {
        L"vault",
        L"vault unknown-op",
        L"vault send-op5 extra",
        L"vault unload-user-bkeys S-1-5-18 extra",
        L"vault unload-lkey",
        L"vault unload-lkey 12345607-89AB-CDEF-0123-456789ABCDEF",
        L"vault unload-lkey {12345607-89AB-CDEF-0123-456789ABCDE}",
        L"vault unload-lkey {12345607-89AB-CDEF-0123-456789ABCDEFF}",
        L"vault unload-lkey {1234560G-89AB-CDEF-0123-456789ABCDEF}",
        L"vault load-lkey --key 00 --id {12345607-89AB-CDEF-0123-456789ABCDEF}",
        L"vault load-lkey --kind 1 --id {12345607-89AB-CDEF-0123-456789ABCDEF}",
        L"vault load-lkey --kind 1 --key 00",
        L"vault load-lkey --kind 256 --key 00 --id {12345607-89AB-CDEF-0123-456789ABCDEF}",
        L"vault load-lkey --kind -1 --key 00 --id {12345607-89AB-CDEF-0123-456789ABCDEF}",
        L"vault load-lkey --kind 1 --key 001 --id {12345607-89AB-CDEF-0123-456789ABCDEF}",
        L"vault load-lkey --kind 1 --key 0g --id {12345607-89AB-CDEF-0123-456789ABCDEF}",
        L"vault load-lkey --kind 1 --key 00 --id {12345607-89AB-CDEF-0123-456789ABCDEF} --bogus",
        L"vault load-lkey --kind 1 --key 00 --id {12345607-89AB-CDEF-0123-456789ABCDEF} --text1",
    };
    for (const wchar_t* args : rows) {
        const rxctl_result r = run_rxctl(args);
        EXPECT_EQ(r.exit_code, 2u) << r.out;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find("usage: rxctl vault"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(vault_double::requests().empty()) << "a usage error reached the driver";
}

TEST_F(VaultCommandTest, AbsentDriver) {
    ASSERT_TRUE(vault_double::stop());
    const rxctl_result r = run_rxctl(L"vault unload-user-bkeys S-1-5-18");
    EXPECT_EQ(r.out, "80070006\n");
    EXPECT_EQ(r.exit_code, 1u);
    EXPECT_EQ(r.err.rfind("rxctl vault: 80070006 (", 0), 0u) << "the platform's text for it: " << r.err;
}
}  // namespace
