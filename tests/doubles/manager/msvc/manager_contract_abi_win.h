#pragma once
// The manager contract as a component built with the platform's own compiler declares it:
// KV_event with a virtual destructor and its five operations (that compiler gives the
// destructor one table entry, a deleting destructor taking flags, at entry 0), and
// RX_manager_i with the layout of dispatcher/manager_interface_win.h: IUnknown's three
// operations, then start_manager and forward_call. The double calls all of them by name.
#include "tests/doubles/manager/msvc/platform_abi_win.h"

class KV_event {
public:
    virtual ~KV_event();
    virtual bool set_event();
    virtual bool reset_event();
    virtual bool wait(unsigned int timeout_ms);
    virtual HANDLE event_handle();
    virtual const wchar_t* object_name();
};

// {8E033063-C1D5-43E1-964C-F92AFBD11556}
inline constexpr CLSID CLSID_RX_manager_component = {
    0x8E033063, 0xC1D5, 0x43E1, {0x96, 0x4C, 0xF9, 0x2A, 0xFB, 0xD1, 0x15, 0x56}};
// {47E0FE6A-FB85-4D55-87B5-B614A318FA07}
inline constexpr IID IID_RX_manager_i = {
    0x47E0FE6A, 0xFB85, 0x4D55, {0x87, 0xB5, 0xB6, 0x14, 0xA3, 0x18, 0xFA, 0x07}};

struct __declspec(novtable) RX_manager_i : IUnknown {
    virtual HRESULT __stdcall start_manager(LONG mode, KV_event* stop_event, KV_event* done_event) = 0;
    virtual HRESULT __stdcall forward_call(const wchar_t* name, const wchar_t* envelope, BSTR* result) = 0;
};
