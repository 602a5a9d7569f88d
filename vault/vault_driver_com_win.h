#pragma once
// VX_vault_driver_com: the channel to the vault driver. It owns the device handle (its
// only field), opened at construction and closed at destruction; every operation runs
// one exchange (ProtocolBuffersDriverCall) and returns the driver's status as an HRESULT.
// A driver success arrives as 0x10000000, not S_OK: test results by sign.
//
// The virtual slots after the destructor are load_lkey, unload_lkey, send_operation_5, in
// that order (callers outside this module rely on it); the user operations are not virtual.
#include <windows.h>

#include "foundation/unique_resource_win.h"
#include "vault/lkey.h"

class VX_vault_driver_com {
public:
    // The vault driver's device.
    static constexpr wchar_t device_path[] = L"\\\\.\\QlnVSROV";

    // Opens "\\.\QlnVSROV"; on failure traces the error and keeps INVALID_HANDLE_VALUE, so
    // that every exchange fails at the device call (0x80070006).
    VX_vault_driver_com() noexcept;
    virtual ~VX_vault_driver_com();
    VX_vault_driver_com(const VX_vault_driver_com&) = delete;
    VX_vault_driver_com& operator=(const VX_vault_driver_com&) = delete;

    // Operation 7 with the key record; E_INVALIDARG without contacting the driver for a
    // null key or one whose descriptor, id, kind or key data cannot be obtained.
    virtual HRESULT load_lkey(lkey_source* key) noexcept;
    // Operation 6 with the 16-byte id; E_INVALIDARG for a null id.
    virtual HRESULT unload_lkey(const GUID* id) noexcept;
    // Operation 5, no fields, no trace.
    virtual HRESULT send_operation_5() noexcept;

    // Operations 9 and 15 with the user identifier (8-bit text, may be null).
    HRESULT unload_user_bkeys(const char* user) noexcept;
    HRESULT remove_sso_data(const char* user) noexcept;

    HANDLE handle() const noexcept { return device_.get(); }

private:
    unique_file device_;
};

// The driver part of a user's logoff on an open channel: unload_user_bkeys, then
// remove_sso_data for the same user. A driver that kept the first request past its cancel
// (vault_status::request_abandoned) is not waited on a second time: the second request is
// not sent, and `removed` is that same status.
struct logoff_requests {
    HRESULT unloaded;
    HRESULT removed;
    bool removal_sent;
};
logoff_requests send_logoff_requests(VX_vault_driver_com& channel, const char* user) noexcept;
