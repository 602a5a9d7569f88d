// The native build has no trace file: trace calls of the platform-free cores go nowhere.
#include "foundation/trace.h"
namespace trace_detail {
void scope(const wchar_t*, int) noexcept {}
void scope_formatted(const wchar_t*, int, const wchar_t*, ...) noexcept {}
void message(const wchar_t*, const wchar_t*, ...) noexcept {}
}  // namespace trace_detail
void trace_error(trace_name, std::uint32_t) noexcept {}
