#include "tests/doubles/event_system/dll/failure_switch_win.h"

#include "tests/doubles/common/double_registry_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/doubles/event_system/event_system_protocol_win.h"

namespace event_system_double {

std::optional<HRESULT> injected_failure(const wchar_t* call, std::initializer_list<std::wstring> texts) {
    namespace value = protocol::value;
    const unique_hkey key = doubles::open_key(key_path, false);
    if (!key) return std::nullopt;
    const auto failing_call = doubles::read_text(key.get(), value::fail_call);
    const auto status = doubles::read_dword(key.get(), value::fail_status);
    if (!failing_call || !status || *failing_call != call) return std::nullopt;
    if (const auto on = doubles::read_text(key.get(), value::fail_on)) {
        bool matched = false;
        for (const std::wstring& text : texts) matched = matched || text == *on;
        if (!matched) return std::nullopt;
    }
    return static_cast<HRESULT>(*status);
}

}  // namespace event_system_double
