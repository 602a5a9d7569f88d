#include "client/rx_client_win.h"

namespace rx_client {
namespace {

static_assert(sizeof(wchar_t) == sizeof(xml_char), "envelopes are the XML library's texts");

call_result failure(call_outcome outcome, HRESULT status) {
    call_result result;
    result.outcome = outcome;
    result.status = status;
    return result;
}

}  // namespace

HRESULT connection::connect() {
    dispatcher_.reset();
    return CoCreateInstance(CLSID_RX_core_service_disp, nullptr, CLSCTX_LOCAL_SERVER, IID_RX_core_service_disp_i,
                            dispatcher_.put_void());
}

call_result connection::call(const wchar_t* name, std::span<const argument> arguments) {
    wiped_text envelope;
    if (build_envelope(name, arguments, envelope) != envelope_status::built)
        return failure(call_outcome::unreachable, E_INVALIDARG);
    return call_envelope(envelope.c_str());
}

call_result connection::call_envelope(const wchar_t* envelope) {
    if (!dispatcher_) return failure(call_outcome::unreachable, CO_E_OBJNOTCONNECTED);
    if (envelope == nullptr) return failure(call_outcome::unreachable, E_INVALIDARG);
    const wiped_text coded = scramble(envelope);
    unique_wiped_bstr argument(SysAllocStringLen(coded.data(), static_cast<UINT>(coded.size())));
    if (!argument) return failure(call_outcome::unreachable, E_OUTOFMEMORY);

    unique_wiped_bstr returned_text;
    LONG ret_code = 0;
    const HRESULT returned = dispatcher_->call_function(argument.get(), returned_text.put(), &ret_code);
    call_result result;
    result.outcome = judge_call(returned);
    // A failure here is the transport's: call_function itself answers S_OK or S_FALSE.
    result.status = result.outcome == call_outcome::carried_out || result.outcome == call_outcome::refused
                        ? ret_code
                        : returned;
    if (returned_text && result.outcome == call_outcome::carried_out) {
        result.has_result = true;
        result.result = result_text(unscramble(returned_text.get()).c_str());
    }
    return result;
}

}  // namespace rx_client
