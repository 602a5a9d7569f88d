#pragma once
// One small owning wrapper per kind of platform resource: kernel handles, files, registry
// keys, local-heap blocks, owned mutexes, loaded modules, service-manager handles, Windows
// Installer handles (the package's custom actions). Each
// closes with the matching platform call, so no function has to free on every exit path
// by hand. BSTRs and COM pointers have theirs in foundation/com_resource_win.h.
#include <windows.h>
#include <msi.h>
#include <utility>

// A movable owner of a value released by Traits::close unless it equals Traits::invalid().
template <typename Traits>
class unique_resource {
public:
    using value_type = typename Traits::type;
    unique_resource() noexcept = default;
    explicit unique_resource(value_type value) noexcept : value_(value) {}
    unique_resource(unique_resource&& other) noexcept : value_(other.release()) {}
    unique_resource& operator=(unique_resource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    unique_resource(const unique_resource&) = delete;
    unique_resource& operator=(const unique_resource&) = delete;
    ~unique_resource() { reset(); }

    value_type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
    // Gives up ownership without closing.
    value_type release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(value_type value = Traits::invalid()) noexcept {
        value_type old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // For out-parameters: closes the current value and hands out its address.
    value_type* put() noexcept { reset(); return &value_; }

private:
    value_type value_ = Traits::invalid();
};

namespace unique_resource_traits {
struct handle {  // events, mutexes, threads, processes: failure is null
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};
struct file {  // files and devices: failure is INVALID_HANDLE_VALUE
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};
struct hkey {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type k) noexcept { ::RegCloseKey(k); }
};
struct hlocal {  // blocks the platform allocated for the caller (LocalFree)
    using type = HLOCAL;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { ::LocalFree(p); }
};
struct owned_mutex {  // a mutex this thread owns: released, then closed
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::ReleaseMutex(h); ::CloseHandle(h); }
};
struct hmodule {  // a module loaded with LoadLibrary(Ex)
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type m) noexcept { ::FreeLibrary(m); }
};
struct sc_handle {  // the service control manager or one service
    using type = SC_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseServiceHandle(h); }
};
struct event_source {  // an event-log source (RegisterEventSource)
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::DeregisterEventSource(h); }
};
struct change_notification {  // a directory watch (FindFirstChangeNotification)
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::FindCloseChangeNotification(h); }
};
struct msi_handle {  // a Windows Installer record, view or database (MsiCloseHandle, msi.dll)
    using type = MSIHANDLE;
    static type invalid() noexcept { return 0; }
    static void close(type h) noexcept { ::MsiCloseHandle(h); }
};
}  // namespace unique_resource_traits

using unique_handle = unique_resource<unique_resource_traits::handle>;
using unique_file = unique_resource<unique_resource_traits::file>;
using unique_hkey = unique_resource<unique_resource_traits::hkey>;
using unique_hlocal = unique_resource<unique_resource_traits::hlocal>;
using unique_owned_mutex = unique_resource<unique_resource_traits::owned_mutex>;
using unique_hmodule = unique_resource<unique_resource_traits::hmodule>;
using unique_sc_handle = unique_resource<unique_resource_traits::sc_handle>;
using unique_event_source = unique_resource<unique_resource_traits::event_source>;
using unique_change_notification = unique_resource<unique_resource_traits::change_notification>;
using unique_msi_handle = unique_resource<unique_resource_traits::msi_handle>;
