// kv_manager_double_msvc.dll: the manager component double built as the real component is,
// with the platform compiler's ABI (clang in MSVC mode, lld-link, no C runtime). It does
// what kv_manager_double.dll does (see tests/doubles/manager/manager_double_win.h: the same
// forward_call names, records and switches), but it sees KV_event and RX_manager_i only as
// that compiler lays them out (manager_contract_abi_win.h) and calls them by name.
#include "tests/doubles/manager/msvc/manager_contract_abi_win.h"

namespace {

// The names and values of manager_double_win.h (the tests run the same cases on both builds).
constexpr const wchar_t* quiet_echo = L"manager_quiet_echo";
constexpr const wchar_t* s_false = L"manager_s_false";
constexpr const wchar_t* no_result = L"manager_no_result";
constexpr const wchar_t* fail = L"manager_fail";
constexpr const wchar_t* never_done = L"manager_never_done";
constexpr const wchar_t* fail_long_text = L"manager_fail_long_text";
constexpr const wchar_t* s_false_no_result = L"manager_s_false_no_result";
constexpr const wchar_t* fail_no_result = L"manager_fail_no_result";
constexpr const wchar_t* other_success = L"manager_other_success";
constexpr const wchar_t* event_probe = L"manager_event_probe";
constexpr const wchar_t* release_done_event = L"Global\\KvManagerDoubleReleaseDone";
constexpr HRESULT failure_status = static_cast<HRESULT>(0x80040D01);
constexpr HRESULT other_success_status = static_cast<HRESULT>(0x00040D03);
constexpr UINT long_text_units = 40000;

constexpr const wchar_t* record_key = L"Software\\KvTestDoubles\\Manager";
constexpr const wchar_t* class_key = L"Software\\Classes\\CLSID\\{8E033063-C1D5-43E1-964C-F92AFBD11556}";

// Objects and server locks alive; DllCanUnloadNow answers S_OK at zero.
long g_module_locks = 0;
// Set by never_done: the stop threads keep their done events unset until the release event.
int g_withhold_done = 0;
// The events of the last start_manager, for event_probe (the service keeps them alive).
KV_event* g_stop_event = nullptr;
KV_event* g_done_event = nullptr;

void lock_module() { __atomic_add_fetch(&g_module_locks, 1, __ATOMIC_SEQ_CST); }
void unlock_module() { __atomic_sub_fetch(&g_module_locks, 1, __ATOMIC_SEQ_CST); }

// Memory from the process heap: there is no runtime behind new and delete.
struct heap_object {
    static void* operator new(SIZE_T size) noexcept { return HeapAlloc(GetProcessHeap(), 0, size); }
    static void operator delete(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
};

bool same_text(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return a == b;
    for (; *a && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

DWORD text_bytes(const wchar_t* text) {
    DWORD units = 0;
    while (text[units]) ++units;
    return (units + 1) * sizeof(wchar_t);
}

// --- The records, in HKLM\Software\KvTestDoubles\Manager --------------------------------

class record {
public:
    record() {
        if (RegCreateKeyExW(hkey_local_machine(), record_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~record() {
        if (key_) RegCloseKey(key_);
    }
    record(const record&) = delete;
    record& operator=(const record&) = delete;

    bool read_dword(const wchar_t* name, DWORD* value) const {
        DWORD type = 0, size = sizeof *value;
        return key_ &&
               RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
               type == REG_DWORD && size == sizeof *value;
    }
    void write_dword(const wchar_t* name, DWORD value) const {
        if (key_) RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    void write_qword(const wchar_t* name, unsigned long long value) const {
        if (key_) RegSetValueExW(key_, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    void write_text(const wchar_t* name, const wchar_t* text) const {
        if (!text) text = L"";
        if (key_) RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), text_bytes(text));
    }
    void increment(const wchar_t* name) const {
        DWORD count = 0;
        if (!read_dword(name, &count)) count = 0;
        write_dword(name, count + 1);
    }

private:
    HKEY key_ = nullptr;
};

unsigned long long now_filetime() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// --- Texts for results ---------------------------------------------------------------

HRESULT copy_text(const wchar_t* text, BSTR* result) {
    if (!text) return S_OK;
    *result = SysAllocString(text);
    return *result ? S_OK : E_OUTOFMEMORY;
}

HRESULT long_text(BSTR* result) {
    *result = SysAllocStringLen(nullptr, long_text_units);
    if (!*result) return E_OUTOFMEMORY;
    for (UINT i = 0; i < long_text_units; ++i) (*result)[i] = L'L';
    return S_OK;
}

// Appends text to a fixed buffer, always leaving it terminated.
class text_builder {
public:
    text_builder() { units_[0] = 0; }
    void add(const wchar_t* text) {
        for (; text && *text && used_ + 1 < capacity; ++text) units_[used_++] = *text;
        units_[used_] = 0;
    }
    void add_decimal(unsigned long long value) {
        wchar_t digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value);
        while (count && used_ + 1 < capacity) units_[used_++] = digits[--count];
        units_[used_] = 0;
    }
    const wchar_t* text() const { return units_; }

private:
    static constexpr unsigned capacity = 512;
    wchar_t units_[capacity];  // not zero-filled: that would take a memset, and there is no runtime
    unsigned used_ = 0;
};

// The answers of the stored events' operations, called through their declared names.
HRESULT probe_events(BSTR* result) {
    if (!g_stop_event || !g_done_event) return E_POINTER;
    text_builder probe;
    const wchar_t* name = g_stop_event->object_name();
    probe.add(name ? name : L"(null)");
    probe.add(L"|");
    probe.add_decimal(reinterpret_cast<unsigned long long>(g_stop_event->event_handle()));
    probe.add(g_done_event->reset_event() ? L"|1" : L"|0");
    probe.add(g_done_event->wait(0) ? L"|1" : L"|0");
    return copy_text(probe.text(), result);
}

// --- The stop thread ---------------------------------------------------------------

struct stop_watch : heap_object {
    KV_event* stop;
    KV_event* done;
};

// Waits for the stop event, then sets the done event. The thread holds its own reference to
// the DLL, which it gives back as it ends, so the code stays mapped while it runs.
DWORD __stdcall stop_thread(void* parameter) {
    stop_watch* const watch = static_cast<stop_watch*>(parameter);
    if (watch->stop->wait(INFINITE)) {
        const record recorded;
        recorded.increment(L"StopCount");
        if (__atomic_load_n(&g_withhold_done, __ATOMIC_SEQ_CST)) {
            const HANDLE release = CreateEventW(nullptr, 0, 0, release_done_event);
            if (release) {
                WaitForSingleObject(release, INFINITE);
                CloseHandle(release);
            }
        }
        // Recorded before the event is set: the service may end the process right after.
        recorded.increment(L"DoneCount");
        recorded.write_qword(L"DoneTime", now_filetime());
        watch->done->set_event();
    }
    delete watch;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<const wchar_t*>(&stop_thread), &self);
    FreeLibraryAndExitThread(self, 0);
}

HRESULT start_stop_thread(KV_event* stop_event, KV_event* done_event) {
    HMODULE reference = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<const wchar_t*>(&stop_thread),
                            &reference))
        return hresult_from_win32(GetLastError());
    stop_watch* const watch = new stop_watch;
    if (!watch) {
        FreeLibrary(reference);
        return E_OUTOFMEMORY;
    }
    watch->stop = stop_event;
    watch->done = done_event;
    const HANDLE thread = CreateThread(nullptr, 0, stop_thread, watch, 0, nullptr);
    if (!thread) {
        const HRESULT failure = hresult_from_win32(GetLastError());
        delete watch;
        FreeLibrary(reference);
        return failure;
    }
    // The watch and the module reference now belong to the thread.
    CloseHandle(thread);
    return S_OK;
}

// --- The component -------------------------------------------------------------------

class manager final : public RX_manager_i, public heap_object {
public:
    manager() { lock_module(); }

    HRESULT __stdcall QueryInterface(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!same_guid(iid, IID_IUnknown) && !same_guid(iid, IID_RX_manager_i)) return E_NOINTERFACE;
        *object = static_cast<RX_manager_i*>(this);
        AddRef();
        return S_OK;
    }
    ULONG __stdcall AddRef() override { return __atomic_add_fetch(&references_, 1, __ATOMIC_SEQ_CST); }
    ULONG __stdcall Release() override {
        const ULONG left = __atomic_sub_fetch(&references_, 1, __ATOMIC_SEQ_CST);
        if (left == 0) {
            delete this;
            unlock_module();
        }
        return left;
    }

    HRESULT __stdcall start_manager(LONG mode, KV_event* stop_event, KV_event* done_event) override {
        const record recorded;
        recorded.write_dword(L"Mode", static_cast<DWORD>(mode));
        recorded.increment(L"StartCount");
        DWORD failure = 0;
        if (recorded.read_dword(L"StartFailure", &failure)) return static_cast<HRESULT>(failure);
        if (!stop_event || !done_event) return E_POINTER;
        g_stop_event = stop_event;
        g_done_event = done_event;
        return start_stop_thread(stop_event, done_event);
    }

    HRESULT __stdcall forward_call(const wchar_t* name, const wchar_t* envelope, BSTR* result) override {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (same_text(name, quiet_echo)) return copy_text(envelope, result);
        {
            const record recorded;
            recorded.increment(L"CallCount");
            recorded.write_text(L"LastCall", name);
        }
        if (same_text(name, no_result)) return S_OK;
        if (same_text(name, s_false_no_result)) return S_FALSE;
        if (same_text(name, fail_no_result)) return failure_status;
        if (same_text(name, fail_long_text)) {
            const HRESULT made = long_text(result);
            return made < 0 ? made : failure_status;
        }
        if (same_text(name, event_probe)) return probe_events(result);
        if (same_text(name, never_done)) __atomic_store_n(&g_withhold_done, 1, __ATOMIC_SEQ_CST);
        const HRESULT copied = copy_text(envelope, result);
        if (copied < 0) return copied;
        if (same_text(name, s_false)) return S_FALSE;
        if (same_text(name, fail)) return failure_status;
        if (same_text(name, other_success)) return other_success_status;
        return S_OK;
    }

private:
    ULONG references_ = 1;
};

class factory final : public IClassFactory, public heap_object {
public:
    factory() { lock_module(); }

    HRESULT __stdcall QueryInterface(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!same_guid(iid, IID_IUnknown) && !same_guid(iid, IID_IClassFactory)) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG __stdcall AddRef() override { return __atomic_add_fetch(&references_, 1, __ATOMIC_SEQ_CST); }
    ULONG __stdcall Release() override {
        const ULONG left = __atomic_sub_fetch(&references_, 1, __ATOMIC_SEQ_CST);
        if (left == 0) {
            delete this;
            unlock_module();
        }
        return left;
    }

    HRESULT __stdcall CreateInstance(IUnknown* outer, const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        manager* const made = new manager;
        if (!made) return E_OUTOFMEMORY;
        const HRESULT asked = made->QueryInterface(iid, object);
        made->Release();
        return asked;
    }
    HRESULT __stdcall LockServer(BOOL lock) override {
        if (lock)
            lock_module();
        else
            unlock_module();
        return S_OK;
    }

private:
    ULONG references_ = 1;
};

// --- Registration ---------------------------------------------------------------------

HRESULT set_text(HKEY key, const wchar_t* name, const wchar_t* text) {
    return hresult_from_win32(static_cast<DWORD>(
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), text_bytes(text))));
}

HRESULT register_class() {
    HMODULE self = nullptr;
    wchar_t path[1024];
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<const wchar_t*>(&register_class), &self))
        return hresult_from_win32(GetLastError());
    const DWORD length = GetModuleFileNameW(self, path, 1024);
    if (length == 0 || length >= 1024) return E_FAIL;

    HKEY key = nullptr, server = nullptr;
    LSTATUS status =
        RegCreateKeyExW(hkey_local_machine(), class_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return hresult_from_win32(static_cast<DWORD>(status));
    HRESULT result = set_text(key, nullptr, L"RX manager component (test double, platform ABI)");
    if (result >= 0) {
        status = RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &server, nullptr);
        result = hresult_from_win32(static_cast<DWORD>(status));
    }
    if (result >= 0) result = set_text(server, nullptr, path);
    if (result >= 0) result = set_text(server, L"ThreadingModel", L"Both");
    if (server) RegCloseKey(server);
    RegCloseKey(key);
    return result;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(const CLSID& clsid, const IID& iid,
                                                                     void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!same_guid(clsid, CLSID_RX_manager_component)) return CLASS_E_CLASSNOTAVAILABLE;
    factory* const made = new factory;
    if (!made) return E_OUTOFMEMORY;
    const HRESULT asked = made->QueryInterface(iid, object);
    made->Release();
    return asked;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow() {
    return __atomic_load_n(&g_module_locks, __ATOMIC_SEQ_CST) == 0 ? S_OK : S_FALSE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() { return register_class(); }

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
    const LSTATUS status = RegDeleteTreeW(hkey_local_machine(), class_key);
    return status == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND) ? S_OK
                                                                : hresult_from_win32(static_cast<DWORD>(status));
}

// Ends the life of an event through its table entry 0, as this compiler does for `delete`
// (flags 1: destroy and free) and for an explicit destructor call (flags 0: destroy only).
// For the tests of that entry; the service never hands its events over.
extern "C" __declspec(dllexport) void __stdcall kv_delete_event(KV_event* event) { delete event; }
extern "C" __declspec(dllexport) void __stdcall kv_destroy_event_in_place(KV_event* event) { event->~KV_event(); }
