// The test side of the manager double: registration, records and the start switch.
#include "tests/doubles/manager/manager_double_win.h"

#include "tests/doubles/common/com_double_locations_win.h"
#include "tests/doubles/common/double_registry_win.h"

namespace manager_double {

HRESULT register_double() { return doubles::register_double(doubles::manager_double_dll); }
HRESULT register_double(const build& which) { return doubles::register_double(which.dll); }

bool reset() { return doubles::delete_tree(key_path); }

state read_state() {
    state recorded;
    const unique_hkey key = doubles::open_key(key_path, false);
    if (!key) return recorded;
    recorded.mode = doubles::read_dword(key.get(), value::mode);
    recorded.start_count = doubles::read_dword(key.get(), value::start_count).value_or(0);
    recorded.stop_count = doubles::read_dword(key.get(), value::stop_count).value_or(0);
    recorded.done_count = doubles::read_dword(key.get(), value::done_count).value_or(0);
    recorded.done_time = doubles::read_qword(key.get(), value::done_time);
    recorded.call_count = doubles::read_dword(key.get(), value::call_count).value_or(0);
    recorded.last_call = doubles::read_text(key.get(), value::last_call);
    return recorded;
}

bool set_start_failure(HRESULT status) {
    const unique_hkey key = doubles::open_key(key_path, true);
    return key && doubles::write_dword(key.get(), value::start_failure, static_cast<DWORD>(status));
}

bool clear_start_failure() {
    const unique_hkey key = doubles::open_key(key_path, false);
    return !key || doubles::delete_value(key.get(), value::start_failure);
}

}  // namespace manager_double

namespace manager_double {
bool release_done() {
    const unique_handle release(CreateEventW(nullptr, FALSE, FALSE, release_done_event));
    return release && SetEvent(release.get());
}
}  // namespace manager_double
