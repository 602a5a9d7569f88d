// Compiled only for its class dump (-fdump-lang-class): the tables the project's compiler
// builds for the manager contract's two sides, which check_contract_tables.cmake compares
// with those of the platform compiler's ABI. A concrete manager shows its entries by name.
#include "dispatcher/manager_interface_win.h"
#include "foundation/kv_named_objects_win.h"

struct contract_tables_probe final : RX_manager_i {
    STDMETHODIMP QueryInterface(REFIID, void**) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    HRESULT STDMETHODCALLTYPE start_manager(LONG, KV_event*, KV_event*) override;
    HRESULT STDMETHODCALLTYPE forward_call(const wchar_t*, const wchar_t*, BSTR*) override;
};
