// kv_manager_double.dll: the manager component double. See manager_double_win.h.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "dispatcher/manager_interface_win.h"
#include "foundation/result_win.h"
#include "foundation/unique_resource_win.h"
#include "tests/doubles/common/double_registry_win.h"
#include "tests/doubles/common/inproc_server_win.h"
#include "tests/doubles/manager/manager_double_win.h"

namespace {
using namespace doubles;
namespace value = manager_double::value;

// Set by the `never_done` call: the stop threads of this process keep their done events unset
// until a test sets the release event.
std::atomic<bool> g_withhold_done{false};

// A KV_event seen from outside: the object's first word points at its function table, whose
// entries take the object as first argument (x64: the same convention as a member call).
class event_by_table {
public:
    explicit event_by_table(KV_event* object) noexcept : object_(object) {}
    bool set_event() const { return entry<bool (*)(void*)>(1)(object_); }
    bool reset_event() const { return entry<bool (*)(void*)>(2)(object_); }
    bool wait(std::uint32_t timeout_ms) const { return entry<bool (*)(void*, std::uint32_t)>(3)(object_, timeout_ms); }
    HANDLE event_handle() const { return entry<HANDLE (*)(void*)>(4)(object_); }
    const wchar_t* object_name() const { return entry<const wchar_t* (*)(void*)>(5)(object_); }
private:
    template <typename Function>
    Function entry(int index) const {
        void* const* table = *reinterpret_cast<void* const* const*>(object_);
        return reinterpret_cast<Function>(table[index]);
    }
    void* object_;
};

// The events of the last start_manager, for event_probe (the service keeps them alive).
std::atomic<KV_event*> g_stop_event{nullptr};
std::atomic<KV_event*> g_done_event{nullptr};

struct stop_watch {
    event_by_table stop;
    event_by_table done;
};

std::uint64_t now_filetime() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Waits for the stop event, then sets the done event. The thread holds its own reference to
// the DLL, so the DLL stays mapped while the thread runs even if COM frees it.
DWORD WINAPI stop_thread(void* parameter) {
    {
        const std::unique_ptr<stop_watch> watch(static_cast<stop_watch*>(parameter));
        if (watch->stop.wait(INFINITE)) {
            const unique_hkey key = open_key(manager_double::key_path, true);
            increment(key.get(), value::stop_count);
            if (g_withhold_done) {
                // Held until a test lets it go, so that the test can still finish the stop.
                const unique_handle release(CreateEventW(nullptr, FALSE, FALSE, manager_double::release_done_event));
                if (release) WaitForSingleObject(release.get(), INFINITE);
            }
            {
                // Recorded before the event is set: the service may end the process right after.
                increment(key.get(), value::done_count);
                write_qword(key.get(), value::done_time, now_filetime());
                watch->done.set_event();
            }
        }
    }
    // By hand, not through an owner: a FreeLibrary that returned could return into an
    // unmapped module, so the reference and the thread end in one call.
    FreeLibraryAndExitThread(inproc::module(), 0);
}

HRESULT start_stop_thread(KV_event* stop_event, KV_event* done_event) {
    unique_hmodule reference;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&stop_thread),
                            reference.put()))
        return HRESULT_FROM_WIN32(GetLastError());
    std::unique_ptr<stop_watch> watch(new (std::nothrow)
                                          stop_watch{event_by_table(stop_event), event_by_table(done_event)});
    if (!watch) return E_OUTOFMEMORY;
    const unique_handle thread(CreateThread(nullptr, 0, stop_thread, watch.get(), 0, nullptr));
    if (!thread) return HRESULT_FROM_WIN32(GetLastError());
    // Both now belong to the thread: it deletes the watch and gives the module reference
    // back as it ends (FreeLibraryAndExitThread).
    watch.release();
    reference.release();
    return S_OK;
}

HRESULT copy_text(const wchar_t* text, BSTR* result) {
    if (!text) return S_OK;
    *result = SysAllocString(text);
    return *result ? S_OK : E_OUTOFMEMORY;
}

HRESULT long_text(BSTR* result) {
    const UINT units = static_cast<UINT>(manager_double::long_text_units);
    *result = SysAllocStringLen(nullptr, units);
    if (!*result) return E_OUTOFMEMORY;
    std::fill_n(*result, units, L'L');
    return S_OK;
}

// The answers of the stored events' operations (see manager_double::event_probe).
HRESULT probe_events(BSTR* result) {
    KV_event* const stop_object = g_stop_event;
    KV_event* const done_object = g_done_event;
    if (!stop_object || !done_object) return E_POINTER;
    const event_by_table stop(stop_object), done(done_object);
    const wchar_t* const name = stop.object_name();
    std::wstring probe = name ? name : L"(null)";
    probe += L"|" + std::to_wstring(reinterpret_cast<std::uintptr_t>(stop.event_handle()));
    probe += done.reset_event() ? L"|1" : L"|0";
    probe += done.wait(0) ? L"|1" : L"|0";
    return copy_text(probe.c_str(), result);
}

class manager final : public RX_manager_i, private inproc::ref_counted {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_RX_manager_i)) return E_NOINTERFACE;
        *object = static_cast<RX_manager_i*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return add_ref(); }
    STDMETHODIMP_(ULONG) Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE start_manager(LONG mode, KV_event* stop_event, KV_event* done_event) override {
        const unique_hkey key = open_key(manager_double::key_path, true);
        write_dword(key.get(), value::mode, static_cast<DWORD>(mode));
        increment(key.get(), value::start_count);
        if (const auto failure = read_dword(key.get(), value::start_failure))
            return static_cast<HRESULT>(*failure);
        if (!stop_event || !done_event) return E_POINTER;
        g_stop_event = stop_event;
        g_done_event = done_event;
        return start_stop_thread(stop_event, done_event);
    }

    HRESULT STDMETHODCALLTYPE forward_call(const wchar_t* name, const wchar_t* envelope, BSTR* result) override {
        if (!result) return E_POINTER;
        *result = nullptr;
        const std::wstring_view asked = name ? name : L"";
        if (asked == manager_double::quiet_echo) return copy_text(envelope, result);
        const unique_hkey key = open_key(manager_double::key_path, true);
        increment(key.get(), value::call_count);
        write_text(key.get(), value::last_call, name);

        if (asked == manager_double::no_result) return S_OK;
        if (asked == manager_double::s_false_no_result) return S_FALSE;
        if (asked == manager_double::fail_no_result) return manager_double::failure_status;
        if (asked == manager_double::fail_long_text) {
            KV_RETURN_IF_FAILED(long_text(result));
            return manager_double::failure_status;
        }
        if (asked == manager_double::event_probe) return probe_events(result);
        if (asked == manager_double::never_done) g_withhold_done = true;
        KV_RETURN_IF_FAILED(copy_text(envelope, result));
        if (asked == manager_double::s_false) return S_FALSE;
        if (asked == manager_double::fail) return manager_double::failure_status;
        if (asked == manager_double::other_success) return manager_double::other_success_status;
        return S_OK;
    }

private:
    ~manager() override = default;
};

HRESULT create_manager(REFIID iid, void** object) {
    return inproc::create_object<manager>(iid, object);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        inproc::set_module(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (object) *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_RX_manager_component)) return CLASS_E_CLASSNOTAVAILABLE;
    return inproc::get_class_object(create_manager, iid, object);
}

STDAPI DllCanUnloadNow() { return inproc::can_unload_now(); }

STDAPI DllRegisterServer() {
    return inproc::register_class(CLSID_RX_manager_component, L"RX manager component (test double)", L"Both");
}

STDAPI DllUnregisterServer() { return inproc::unregister_class(CLSID_RX_manager_component); }
