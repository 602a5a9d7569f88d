#include "dispatcher/rx_core_service_disp_win.h"

#include "dispatcher/logon_caller_win.h"
#include "dispatcher/server_lock_win.h"

#include <new>

// The system's SENS definitions, which no import library of the toolchain carries.
extern "C" const IID IID_ISensLogon = {
    0xD597BAB3, 0x5B9F, 0x11D1, {0x8D, 0xD2, 0x00, 0xAA, 0x00, 0x4A, 0xBD, 0x5E}};
namespace {
constexpr GUID sens_events_library = {
    0xD597DEED, 0x5B9F, 0x11D1, {0x8D, 0xD2, 0x00, 0xAA, 0x00, 0x4A, 0xBD, 0x5E}};
}  // namespace

type_info_source& service_type_info() noexcept {
    static type_info_source source(LIBID_RxCoreServiceLib, 1, 0, IID_RX_core_service_disp_i, true);
    return source;
}

type_info_source& logon_type_info() noexcept {
    static type_info_source source(sens_events_library, 2, 0, IID_ISensLogon, false);
    return source;
}

RX_core_service_disp::RX_core_service_disp(IUnknown* outer) noexcept
    : inner_(*this), controlling_(outer != nullptr ? outer : &inner_) {
    server_lock();
}

RX_core_service_disp::~RX_core_service_disp() { server_unlock(); }

HRESULT RX_core_service_disp::create(IUnknown* outer, REFIID iid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* created = new (std::nothrow) RX_core_service_disp(outer);
    if (created == nullptr) return E_OUTOFMEMORY;
    // The creator's reference keeps the object alive while it answers; the answer holds
    // its own, and a failed one leaves nothing behind.
    created->inner_.AddRef();
    const HRESULT result = created->inner_.QueryInterface(iid, object);
    created->inner_.Release();
    return result;
}

HRESULT RX_core_service_disp::inner_unknown::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    RX_core_service_disp& self = owner_;
    if (IsEqualIID(iid, IID_IUnknown))
        *object = static_cast<IUnknown*>(this);
    else if (IsEqualIID(iid, IID_RX_core_service_disp_i))
        *object = static_cast<RX_core_service_disp_i*>(&self);
    else if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ISensLogon))
        *object = static_cast<ISensLogon*>(&self);
    else {
        // COM marshals every object it hands out of the apartment, and asks it for its own
        // marshaler first; the standard one serves it, as before.
        if (IsEqualIID(iid, IID_IMarshal)) self.exported_.store(true);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

ULONG RX_core_service_disp::inner_unknown::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&owner_.references_));
}

ULONG RX_core_service_disp::inner_unknown::Release() {
    RX_core_service_disp& self = owner_;
    const LONG count = ::InterlockedDecrement(&self.references_);
    if (count == 0) delete &self;
    return static_cast<ULONG>(count);
}

HRESULT RX_core_service_disp::QueryInterface(REFIID iid, void** object) {
    return controlling_->QueryInterface(iid, object);
}
ULONG RX_core_service_disp::AddRef() { return controlling_->AddRef(); }
ULONG RX_core_service_disp::Release() { return controlling_->Release(); }

bool RX_core_service_disp::logon_caller_admitted(trace_name scope) const noexcept {
    const bool aggregated = controlling_ != &inner_;
    return admit_logon_caller(scope, aggregated || exported_.load());
}

HRESULT RX_core_service_disp::notify(const wchar_t* user, const wchar_t* notification) {
    return ::notify(notifications_, L"RX_core_service_disp::notify", user, notification);
}
