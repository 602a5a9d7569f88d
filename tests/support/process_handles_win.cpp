#include "tests/support/process_handles_win.h"

#include "foundation/unique_resource_win.h"

#include <winternl.h>

#include <vector>

namespace process_handles {
namespace {

// SystemExtendedHandleInformation: every handle of every process, with its owner.
struct handle_entry {
    void* object;
    ULONG_PTR process_id;
    ULONG_PTR handle;
    ULONG access;
    USHORT creator_back_trace;
    USHORT object_type;
    ULONG attributes;
    ULONG reserved;
};
struct handle_table {
    ULONG_PTR count;
    ULONG_PTR reserved;
    handle_entry entries[1];
};
constexpr auto system_extended_handle_information = static_cast<SYSTEM_INFORMATION_CLASS>(64);
constexpr NTSTATUS info_length_mismatch = static_cast<NTSTATUS>(0xC0000004);

}  // namespace

std::optional<DWORD> in_system_table(DWORD process_id) {
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status = NtQuerySystemInformation(system_extended_handle_information, buffer.data(),
                                                         static_cast<ULONG>(buffer.size()), &needed);
        if (status == info_length_mismatch && buffer.size() < (256u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return std::nullopt;
        const auto* table = reinterpret_cast<const handle_table*>(buffer.data());
        DWORD count = 0;
        for (ULONG_PTR i = 0; i < table->count; ++i)
            if (table->entries[i].process_id == process_id) ++count;
        return count;
    }
}

std::optional<DWORD> count(DWORD process_id) {
    const unique_handle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, process_id));
    DWORD reported = 0;
    if (!process || !GetProcessHandleCount(process.get(), &reported)) return std::nullopt;
    if (reported != 0) return reported;
    return in_system_table(process_id);
}

}  // namespace process_handles
