// RX_core_service_disp::call_function: one call of a client, from the scrambled envelope
// to the scrambled result. Every failure is reported in `ret_code` with S_FALSE as the
// return value; `ret` is written only when the call was carried out.
#include "dispatcher/rx_core_service_disp_win.h"

#include "dispatcher/call_envelope.h"
#include "dispatcher/dispatcher_state_win.h"
#include "dispatcher/manager_component_win.h"
#include "dispatcher/scramble_text_win.h"
#include "foundation/com_resource_win.h"
#include "foundation/kv_memory.h"
#include "foundation/trace.h"

#include <new>

namespace {

constexpr trace_name scope = L"RX_core_service_disp::call_function";

HRESULT refuse(LONG& ret_code, HRESULT status, trace_format reason) {
    trace_message(scope, reason);
    ret_code = status;
    return S_FALSE;
}

// The re-serialized envelope may carry the call's secrets: wiped before it is freed.
struct wipe_and_free {
    void operator()(xml_char* text) const noexcept {
        kv_memory::wipe(text, xml_length(text) * sizeof(xml_char));
        std::free(text);
    }
};
using envelope_text = std::unique_ptr<xml_char, wipe_and_free>;

}  // namespace

HRESULT RX_core_service_disp::call_function(BSTR arg, BSTR* ret, LONG* ret_code) {
    trace_scope(scope);
    if (ret == nullptr || ret_code == nullptr) return E_POINTER;
    LONG& status = *ret_code;
    try {
        if (::GetCurrentThreadId() != main_thread_id())
            return refuse(status, E_FAIL, L"Exit call due to thread mismatch!\n");
        kv_xml_document document(create_xml_document());
        if (!document)
            return refuse(status, E_INVALIDARG, L"Exit call, unable to create XML document!\n");
        if (arg == nullptr) return refuse(status, E_INVALIDARG, L"Call with a NULL argument!\n");

        unique_wiped_bstr decoded;
        const HRESULT decoding = unscramble_text(arg, decoded.put());
        if (FAILED(decoding))
            return refuse(status, decoding, L"Unable to decode function call!\n");
        if (call_envelope::is_quit_token(decoded.get())) {
            trace_message(scope, L"Got quit message, exiting!\n");
            request_quit();
            status = S_OK;
            return S_OK;
        }

        // The BSTR carries its length: the load need not count it (a NUL inside still
        // ends the envelope's text, as it does for load_from_string).
        const int loaded =
            kvxml_load_counted(*document, decoded.get(), ::SysStringLen(decoded.get()));
        decoded.reset();
        if (!loaded)
            return refuse(status, E_INVALIDARG, L"Exit call, unable to interpret XML document!\n");
        const xml_char* name = nullptr;
        switch (call_envelope::find_function_name(*document, name)) {
            case call_envelope::lookup::no_function:
                return refuse(status, E_INVALIDARG,
                              L"Exit call, XML document contained no function!\n");
            case call_envelope::lookup::no_name:
                return refuse(status, E_INVALIDARG, L"Exit call, function name is missing!\n");
            case call_envelope::lookup::found:
                break;
        }

        envelope_text envelope(document->to_string());
        if (!envelope) throw std::bad_alloc();
        unique_wiped_bstr result;
        const HRESULT executed = call_envelope::routes_to_core(name)
                                     ? core_perform_operation(name, envelope.get(), result.put())
                                     : forward_call(name, envelope.get(), result.put());
        // The name points into the document: both go only after the executor returned.
        envelope.reset();
        document.reset();

        if (FAILED(executed)) return refuse(status, executed, L"Call returned error code!\n");
        if (!result) {
            *ret = nullptr;
            status = executed;
            return S_OK;
        }
        BSTR coded = nullptr;
        const HRESULT coding = scramble_text(result.get(), &coded);
        result.reset();
        if (FAILED(coding)) return refuse(status, coding, L"Return value coding failed!\n");
        *ret = coded;
        status = executed;
        return S_OK;
    } catch (const std::bad_alloc&) {
        // Whatever the call had allocated went with the unwinding; the service goes on.
        return refuse(status, E_OUTOFMEMORY, L"Exit call, out of memory!\n");
    }
}
