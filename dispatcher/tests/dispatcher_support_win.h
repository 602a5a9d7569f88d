#pragma once
// Shared by the dispatcher's tests: a single-threaded apartment on which the test thread
// is the service's main thread, objects made through the class object, calls with
// envelopes scrambled by our own scramble_text, and trace-line lookups.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dispatcher/rx_core_service.h"
#include "foundation/com_resource_win.h"

namespace dispatcher_test {

// COM on this thread (single-threaded apartment) recorded as the service's main thread.
class main_thread_apartment {
public:
    main_thread_apartment();
    ~main_thread_apartment();
    main_thread_apartment(const main_thread_apartment&) = delete;
    main_thread_apartment& operator=(const main_thread_apartment&) = delete;
};

// A new object of the class, made by its class object, asked for RX_core_service_disp_i.
com_ptr<RX_core_service_disp_i> new_dispatcher();

// Registers the SENS events type library double (idempotent); true on success.
bool register_sens_type_library();

// A BSTR value no call of ours ever returns: `ret` must still hold it after a failure.
inline const BSTR untouched = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0x5EED));

struct call_outcome {
    HRESULT returned = E_UNEXPECTED;
    LONG ret_code = 0;
    bool ret_written = false;  // `ret` no longer holds `untouched`
    bool has_result = false;   // a non-null result came back
    std::wstring result;       // the unscrambled result
};
// Scrambles `envelope`, calls call_function and unscrambles what comes back.
call_outcome call(RX_core_service_disp_i* dispatcher, const std::wstring& envelope);

// The text of the trace lines written under `name` ("<name>: <text>" after the prefix).
std::vector<std::wstring> trace_messages(const std::wstring& name);

}  // namespace dispatcher_test
