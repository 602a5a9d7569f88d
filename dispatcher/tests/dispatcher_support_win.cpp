#include "dispatcher/tests/dispatcher_support_win.h"

#include "dispatcher/class_factory_win.h"
#include "dispatcher/dispatcher_state_win.h"
#include "dispatcher/scramble_text_win.h"
#include "foundation/tests/trace_capture_win.h"

#include <oleauto.h>

namespace dispatcher_test {

main_thread_apartment::main_thread_apartment() {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    set_main_thread_id(::GetCurrentThreadId());
}

main_thread_apartment::~main_thread_apartment() {
    set_main_thread_id(0);
    ::CoUninitialize();
}

com_ptr<RX_core_service_disp_i> new_dispatcher() {
    com_ptr<RX_core_service_disp_i> dispatcher;
    rx_core_service_disp_class_object()->CreateInstance(nullptr, IID_RX_core_service_disp_i,
                                                        dispatcher.put_void());
    return dispatcher;
}

bool register_sens_type_library() {
    com_ptr<ITypeLib> library;
    return SUCCEEDED(::LoadTypeLibEx(KV_SENS_EVENTS_TLB_PATH, REGKIND_REGISTER, library.put()));
}

call_outcome call(RX_core_service_disp_i* dispatcher, const std::wstring& envelope) {
    call_outcome outcome;
    unique_bstr argument;
    if (FAILED(scramble_text(envelope.c_str(), argument.put()))) return outcome;
    BSTR ret = untouched;
    outcome.returned = dispatcher->call_function(argument.get(), &ret, &outcome.ret_code);
    outcome.ret_written = ret != untouched;
    if (!outcome.ret_written || ret == nullptr) return outcome;
    const unique_bstr coded(ret);
    unique_bstr plain;
    outcome.has_result = SUCCEEDED(unscramble_text(coded.get(), plain.put()));
    if (outcome.has_result) outcome.result = plain.get();
    return outcome;
}

std::vector<std::wstring> trace_messages(const std::wstring& name) {
    std::vector<std::wstring> found;
    const std::wstring marker = L" " + name + L": ";
    for (const std::wstring& line : trace_test::read_trace_lines()) {
        const std::size_t at = line.find(marker);
        if (at != std::wstring::npos) found.push_back(line.substr(at + marker.size()));
    }
    return found;
}

}  // namespace dispatcher_test
