#pragma once
// The client of the service for the product's client processes: connect to
// RX_core_service_disp (COM starts the service, or the local server, when it does not run
// yet), call a function by name with arguments or with a whole envelope, and get the
// unscrambled result with ret_code and a verdict. COM must be initialized on the calling
// thread (com_apartment does it); a connection is used on the thread that made it.
// Nothing here throws: every failure is a status.
//
//   rx_client::com_apartment apartment;
//   rx_client::connection service;
//   if (FAILED(service.connect())) ...;  // unreachable: describe_status(hr) says why
//   const rx_client::call_result r = service.call(L"core_has_agent_GUID_changed");
//   if (r.outcome == rx_client::call_outcome::carried_out) ... r.result ...
#include <objbase.h>

#include <memory>
#include <span>

#include "client/call_protocol.h"

// The service's interface; its layout comes from the interface header generated from the
// type library, which only the library's implementation reads.
struct RX_core_service_disp_i;

namespace rx_client {

// A single-threaded apartment for the owner's lifetime (when this thread had none yet).
class com_apartment {
public:
    com_apartment() noexcept : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~com_apartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
    HRESULT result() const noexcept { return result_; }
private:
    HRESULT result_;
};

struct call_result {
    call_outcome outcome = call_outcome::unreachable;
    // carried_out, refused: ret_code. refused_locally: why nothing was sent (E_INVALIDARG
    // for a name or an envelope it cannot write, E_OUTOFMEMORY). unreachable: the value
    // call_function returned, or CO_E_OBJNOTCONNECTED without a connection. unexpected:
    // the value call_function returned.
    HRESULT status = E_UNEXPECTED;
    bool has_result = false;  // the service returned a result text
    wiped_text result;        // the unscrambled result without its leading U+FEFF
};

struct release_interface {
    void operator()(RX_core_service_disp_i* service) const noexcept;
};

class connection {
public:
    // A new RX_core_service_disp out of process. Its failure is the service being
    // unreachable: REGDB_E_CLASSNOTREG (not registered), CO_E_SERVER_EXEC_FAILURE (did not
    // start), E_NOINTERFACE (the type library for marshaling is missing), ...
    HRESULT connect() noexcept;
    bool connected() const noexcept { return static_cast<bool>(service_); }
    void disconnect() noexcept { service_.reset(); }

    // Calls NAME with the envelope build_envelope makes of it and the arguments. A name or
    // argument name it cannot write gives outcome refused_locally with E_INVALIDARG, unsent.
    call_result call(const wchar_t* name, std::span<const argument> arguments = {}) noexcept;
    // Sends `envelope` (the plain text; any XML, or the quit token) as it is.
    call_result call_envelope(const wchar_t* envelope) noexcept;

private:
    std::unique_ptr<RX_core_service_disp_i, release_interface> service_;
};

}  // namespace rx_client
