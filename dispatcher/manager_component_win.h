#pragma once
// The one process-wide manager component: created and started by the service module while
// it prepares its message loop, called by `call_function` for every call whose name holds
// no "core_", released at the wind-up. All of it runs on the service's main thread.
#include "dispatcher/manager_interface_win.h"

// Creates the component in process (CLSCTX_INPROC_SERVER) and keeps its pointer. On
// failure no manager is held and forwarded calls fail with this result.
HRESULT create_manager() noexcept;

// start_manager(1, stop_event, done_event) on the held component; E_POINTER without one.
// A failed start keeps the pointer (it is released at the wind-up) and calls are still
// forwarded to it: what a component that reported a failed start does with them is its
// own business.
HRESULT start_manager(KV_event* stop_event, KV_event* done_event) noexcept;

// True while a component is held (created, whether or not it started).
bool manager_created() noexcept;

// Hands one call to the held component. Without one: the HRESULT with which creating it
// failed (E_FAIL when it was not tried), `*result` untouched.
HRESULT forward_call(const wchar_t* name, const wchar_t* envelope, BSTR* result) noexcept;

// Releases the component (when one is held) and forgets it.
void release_manager() noexcept;
