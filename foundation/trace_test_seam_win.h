#pragma once
// Test seam of the trace switch. Production code never calls these: they let tests see a
// registry change at once instead of waiting up to 3000 ms for the decision to age.
#include <cstdint>

// Drops the current decision, so that the next trace call reads the registry again.
void trace_forget_switch_decision() noexcept;

// Sets how long a decision lives (3000 ms unless a test changes it).
void trace_set_switch_lifetime(std::uint32_t milliseconds) noexcept;
inline constexpr std::uint32_t trace_default_switch_lifetime = 3000;

// Replaces the trace file's owner check (Wine shows every file as its user's); null: the real one.
using trace_owner_probe = bool (*)(void* file) noexcept;
trace_owner_probe trace_install_owner_probe(trace_owner_probe probe) noexcept;
