#pragma once
// The trace switch: the per-user registry value "EnableUserModeTrace" read from every
// hive under HKEY_USERS (with the same path under HKEY_LOCAL_MACHINE as fallback), and
// the process's decision about it, which lives for 3000 ms.
#include <cstdint>

enum class trace_decision { none, off, on };

// The stored decision when it is younger than its lifetime, otherwise none. Lock-free:
// the decision is read without the trace mutex and written under it.
trace_decision trace_fresh_decision() noexcept;

// Reads the registry (call it holding the trace mutex): true when any hive turns the
// switch on.
bool trace_read_switch() noexcept;

// Stores a decision taken now.
void trace_store_decision(bool on) noexcept;
