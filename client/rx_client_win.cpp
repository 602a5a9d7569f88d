#include "client/rx_client_win.h"

#include "dispatcher/rx_core_service.h"
#include "foundation/com_resource_win.h"

namespace rx_client {
namespace {

static_assert(sizeof(wchar_t) == sizeof(xml_char), "envelopes are the XML library's texts");

call_result failure(call_outcome outcome, HRESULT status) noexcept {
    call_result result;
    result.outcome = outcome;
    result.status = status;
    return result;
}

}  // namespace

void release_interface::operator()(RX_core_service_disp_i* service) const noexcept { service->Release(); }

HRESULT connection::connect() noexcept {
    service_.reset();
    RX_core_service_disp_i* created = nullptr;
    const HRESULT hr = CoCreateInstance(__uuidof(RX_core_service_disp), nullptr, CLSCTX_LOCAL_SERVER,
                                        __uuidof(RX_core_service_disp_i), reinterpret_cast<void**>(&created));
    if (SUCCEEDED(hr)) service_.reset(created);
    return hr;
}

call_result connection::call(const wchar_t* name, std::span<const argument> arguments) noexcept {
    wiped_text envelope;
    switch (build_envelope(name, arguments, envelope)) {
    case envelope_status::built: return call_envelope(envelope.c_str());
    case envelope_status::out_of_memory: return failure(call_outcome::refused_locally, E_OUTOFMEMORY);
    default: return failure(call_outcome::refused_locally, E_INVALIDARG);
    }
}

call_result connection::call_envelope(const wchar_t* envelope) noexcept {
    if (envelope == nullptr) return failure(call_outcome::refused_locally, E_INVALIDARG);
    if (!service_) return failure(call_outcome::unreachable, CO_E_OBJNOTCONNECTED);
    wiped_text coded;
    if (!scramble(envelope, coded)) return failure(call_outcome::refused_locally, E_OUTOFMEMORY);
    unique_wiped_bstr argument(SysAllocStringLen(coded.data(), static_cast<UINT>(coded.size())));
    if (!argument) return failure(call_outcome::refused_locally, E_OUTOFMEMORY);

    unique_wiped_bstr returned_text;
    LONG ret_code = 0;
    const HRESULT returned = service_->call_function(argument.get(), returned_text.put(), &ret_code);
    call_result result;
    result.outcome = judge_call(returned);
    // A failure here is the transport's: call_function itself answers S_OK or S_FALSE.
    result.status = result.outcome == call_outcome::carried_out || result.outcome == call_outcome::refused
                        ? ret_code
                        : returned;
    if (returned_text && result.outcome == call_outcome::carried_out) {
        wiped_text plain;
        if (!unscramble(returned_text.get(), plain) || !result_text(plain.c_str(), result.result))
            return failure(call_outcome::refused_locally, E_OUTOFMEMORY);
        result.has_result = true;
    }
    return result;
}

}  // namespace rx_client
