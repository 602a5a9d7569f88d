#include "vault/vault_driver_com_win.h"
#include "vault/vault_status.h"

#include "foundation/result_win.h"
#include "foundation/trace.h"
#include "vault/protocol_buffers_driver_call_win.h"
#include "vault/vault_requests.h"

namespace {
// The exchange and the status read of one operation whose request is written.
HRESULT exchange(ProtocolBuffersDriverCall& call) noexcept {
    HRESULT result = call.callUnchecked();
    if (SUCCEEDED(result)) result = call.readStatus();
    return result;
}

vault_key_id key_id_of(const GUID& id) noexcept {
    vault_key_id key{id.Data1, id.Data2, id.Data3, {}};
    for (int i = 0; i < 8; ++i) key.data4[i] = id.Data4[i];
    return key;
}
}  // namespace

VX_vault_driver_com::VX_vault_driver_com() noexcept {
    trace_scope(L"VX_vault_driver_com::VX_vault_driver_com");
    device_.reset(::CreateFileW(device_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!device_)
        trace_message(L"VX_vault_driver_com::VX_vault_driver_com",
                      L"Failed to open connection to vault driver: %d\n", ::GetLastError());
}

VX_vault_driver_com::~VX_vault_driver_com() {
    trace_scope(L"VX_vault_driver_com::~VX_vault_driver_com");
}

HRESULT VX_vault_driver_com::load_lkey(lkey_source* key) noexcept {
    if (key == nullptr) return E_INVALIDARG;
    ProtocolBuffersDriverCall call(this);
    KV_RETURN_IF_FAILED(vault_request::write_load_lkey(call.writer(), *key));
    const HRESULT result = exchange(call);
    trace_message(L"VX_vault_driver_com::load_lkey", L"Return %08X\n", result);
    return result;
}

HRESULT VX_vault_driver_com::unload_lkey(const GUID* id) noexcept {
    if (id == nullptr) return E_INVALIDARG;
    trace_message(L"VX_vault_driver_com::unload_lkey",
                  L"Unloading key with id {%08X-%04hX-%04hX-%02hX%02hX-%02hX%02hX%02hX%02hX%02hX%02hX}\n",
                  id->Data1, id->Data2, id->Data3, id->Data4[0], id->Data4[1], id->Data4[2],
                  id->Data4[3], id->Data4[4], id->Data4[5], id->Data4[6], id->Data4[7]);
    ProtocolBuffersDriverCall call(this);
    vault_request::write_unload_lkey(call.writer(), key_id_of(*id));
    const HRESULT result = exchange(call);
    trace_message(L"VX_vault_driver_com::unload_lkey", L"Return %08X\n", result);
    return result;
}

HRESULT VX_vault_driver_com::send_operation_5() noexcept {
    ProtocolBuffersDriverCall call(this);
    vault_request::write_operation(call.writer(), vault_request::op_send_operation_5);
    return exchange(call);
}

HRESULT VX_vault_driver_com::unload_user_bkeys(const char* user) noexcept {
    ProtocolBuffersDriverCall call(this);
    vault_request::write_user_operation(call.writer(), vault_request::op_unload_user_bkeys, user);
    const HRESULT result = exchange(call);
    trace_message(L"VX_vault_driver_com::unload_user_bkeys", L"Return %08X\n", result);
    return result;
}

HRESULT VX_vault_driver_com::remove_sso_data(const char* user) noexcept {
    ProtocolBuffersDriverCall call(this);
    vault_request::write_user_operation(call.writer(), vault_request::op_remove_sso_data, user);
    const HRESULT result = exchange(call);
    trace_message(L"VX_vault_driver_com::remove_sso_data", L"Return %08X\n", result);
    return result;
}

logoff_requests send_logoff_requests(VX_vault_driver_com& channel, const char* user) noexcept {
    logoff_requests result{channel.unload_user_bkeys(user), vault_status::request_abandoned, false};
    if (result.unloaded == vault_status::request_abandoned) return result;
    result.removed = channel.remove_sso_data(user);
    result.removal_sent = true;
    return result;
}
