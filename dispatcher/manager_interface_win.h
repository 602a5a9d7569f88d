#pragma once
// The manager component: an in-process COM component outside the service that executes
// every call whose function name holds no "core_". This header is the binary contract
// between the two sides; the manager double in tests/doubles implements it too.
//
// The stop and done events handed to start_manager are KV_event objects. The component
// is built with the platform's own compiler and calls them through their table: the
// object's first word points at a table of functions that take the object as their
// first argument (the x64 calling convention both compilers share), in this order:
//   0 deleting destructor (object, flags)   3 wait (object, uint32 timeout) -> bool
//   1 set_event (object) -> bool            4 event_handle (object) -> HANDLE
//   2 reset_event (object) -> bool          5 object_name (object) -> const wchar_t*
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

class KV_event;

// {8E033063-C1D5-43E1-964C-F92AFBD11556}
inline constexpr CLSID CLSID_RX_manager_component = {
    0x8E033063, 0xC1D5, 0x43E1, {0x96, 0x4C, 0xF9, 0x2A, 0xFB, 0xD1, 0x15, 0x56}};
// {47E0FE6A-FB85-4D55-87B5-B614A318FA07}
inline constexpr IID IID_RX_manager_i = {
    0x47E0FE6A, 0xFB85, 0x4D55, {0x87, 0xB5, 0xB6, 0x14, 0xA3, 0x18, 0xFA, 0x07}};

struct RX_manager_i : public IUnknown {
    // Starts the component's work. The service passes mode 1 and two unnamed
    // manual-reset events that live until the service ends: once `stop_event` is set,
    // the component finishes its work and sets `done_event`.
    virtual HRESULT STDMETHODCALLTYPE start_manager(LONG mode, KV_event* stop_event,
                                                    KV_event* done_event) = 0;
    // Executes one call. `name` is the envelope's function name, `envelope` the whole
    // re-serialized envelope (it begins with U+FEFF); `*result` is null on entry and
    // receives the result text (or stays null). A negative result fails the call.
    virtual HRESULT STDMETHODCALLTYPE forward_call(const wchar_t* name, const wchar_t* envelope,
                                                   BSTR* result) = 0;
};
