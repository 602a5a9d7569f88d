#include "foundation/trace_switch_win.h"

#include "foundation/kv_path_win.h"
#include "foundation/trace_test_seam_win.h"
#include "foundation/unique_resource_win.h"

#include <atomic>
#include <new>

namespace {
constexpr wchar_t logging_key[] = L"Software\\Quillon\\Cryvane\\Logging";
constexpr wchar_t switch_value[] = L"EnableUserModeTrace";

// Decision and the tick count it was taken at, in one word so that a reader never sees
// the state of one decision with the time of another: bits 0-1 the decision, bits 32-63
// the 32-bit tick count.
std::atomic<std::uint64_t> decision_word{0};
std::atomic<std::uint32_t> lifetime_ms{trace_default_switch_lifetime};

std::uint64_t pack(trace_decision decision, std::uint32_t tick) noexcept {
    return (static_cast<std::uint64_t>(tick) << 32) | static_cast<std::uint64_t>(decision);
}

// True when the value under `key` is a 4-byte REG_DWORD holding exactly 1.
bool value_turns_switch_on(HKEY key) noexcept {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, switch_value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_DWORD || size != sizeof(DWORD)) return false;
    DWORD value = 0;
    size = sizeof(value);
    if (RegQueryValueExW(key, switch_value, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS)
        return false;
    return type == REG_DWORD && size == sizeof(DWORD) && value == 1;
}

// The switch as seen through the hive named `hive`: its key under HKEY_USERS, or, when
// that cannot be opened, the same path (hive name included) under HKEY_LOCAL_MACHINE.
bool hive_turns_switch_on(const wchar_t* hive) {
    KV_path path;
    path.assign_path(hive);
    path.join(KV_string(logging_key));
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_USERS, path.text(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.text(), 0, KEY_QUERY_VALUE, key.put()) !=
            ERROR_SUCCESS)
        return false;
    return value_turns_switch_on(key.get());
}
}  // namespace

trace_decision trace_fresh_decision() noexcept {
    const std::uint64_t word = decision_word.load(std::memory_order_acquire);
    const auto decision = static_cast<trace_decision>(word & 3);
    if (decision == trace_decision::none) return decision;
    const auto taken = static_cast<std::uint32_t>(word >> 32);
    // Unsigned difference: correct across the 49.7-day wrap of the tick count.
    const std::uint32_t age = static_cast<std::uint32_t>(GetTickCount()) - taken;
    return age < lifetime_ms.load(std::memory_order_relaxed) ? decision : trace_decision::none;
}

bool trace_read_switch() noexcept {
    try {
        // A registry key name has at most 255 characters.
        constexpr DWORD hive_name_units = 256;
        wchar_t hive[hive_name_units];
        for (DWORD index = 0;; ++index) {
            DWORD length = hive_name_units;
            if (RegEnumKeyExW(HKEY_USERS, index, hive, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                return false;  // no more hives, or any error: the switch stays off
            if (hive_turns_switch_on(hive)) return true;
        }
    } catch (const std::bad_alloc&) {
        return false;  // no memory for the path: treat as off rather than fail the caller
    }
}

void trace_store_decision(bool on) noexcept {
    decision_word.store(pack(on ? trace_decision::on : trace_decision::off,
                             static_cast<std::uint32_t>(GetTickCount())),
                        std::memory_order_release);
}

void trace_forget_switch_decision() noexcept {
    decision_word.store(pack(trace_decision::none, 0), std::memory_order_release);
}

void trace_set_switch_lifetime(std::uint32_t milliseconds) noexcept {
    lifetime_ms.store(milliseconds, std::memory_order_relaxed);
}
