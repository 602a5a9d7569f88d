#pragma once
// How many handles a process holds. Wine 8 answers GetProcessHandleCount with 0 for every
// process; the handles are then counted in the system handle table
// (SystemExtendedHandleInformation), which Wine keeps.
#include <windows.h>

#include <optional>

namespace process_handles {
// The process's entries in the system handle table; nothing when it cannot be read.
std::optional<DWORD> in_system_table(DWORD process_id);
// GetProcessHandleCount, or the system table's count where the platform reports 0 (a live
// process always holds handles); nothing when neither can be read.
std::optional<DWORD> count(DWORD process_id);
}  // namespace process_handles
