#pragma once
// One small owning wrapper per kind of platform resource. Each closes with the matching
// platform call, so no function has to free on every exit path by hand.
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>
#include <utility>

#include "foundation/kv_memory.h"

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
struct bstr {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type s) noexcept { ::SysFreeString(s); }
};
struct wiped_bstr {  // a string that held a call's text: overwritten with zeros, then freed
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type s) noexcept {
        kv_memory::wipe(s, ::SysStringByteLen(s));
        ::SysFreeString(s);
    }
};
struct hlocal {
    using type = HLOCAL;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { ::LocalFree(p); }
};
struct owned_mutex {  // a mutex this thread owns: released, then closed
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::ReleaseMutex(h); ::CloseHandle(h); }
};
}  // namespace unique_resource_traits

using unique_handle = unique_resource<unique_resource_traits::handle>;
using unique_file = unique_resource<unique_resource_traits::file>;
using unique_hkey = unique_resource<unique_resource_traits::hkey>;
using unique_bstr = unique_resource<unique_resource_traits::bstr>;
using unique_wiped_bstr = unique_resource<unique_resource_traits::wiped_bstr>;
using unique_hlocal = unique_resource<unique_resource_traits::hlocal>;
using unique_owned_mutex = unique_resource<unique_resource_traits::owned_mutex>;

// A COM interface pointer that releases its reference.
template <typename I>
class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(const com_ptr& o) noexcept : p_(o.p_) { if (p_) p_->AddRef(); }
    com_ptr(com_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    com_ptr& operator=(com_ptr o) noexcept { std::swap(p_, o.p_); return *this; }
    ~com_ptr() { if (p_) p_->Release(); }
    // Takes over a reference the caller already owns.
    static com_ptr attach(I* p) noexcept { com_ptr c; c.p_ = p; return c; }
    I* get() const noexcept { return p_; }
    I* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    I** put() noexcept { reset(); return &p_; }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept { if (p_) std::exchange(p_, nullptr)->Release(); }
    // Hands the reference to the caller.
    I* detach() noexcept { return std::exchange(p_, nullptr); }
private:
    I* p_ = nullptr;
};

// Result helpers: one line turns a failure into an early return.
#define KV_RETURN_IF_FAILED(expr)                 \
    do {                                           \
        const HRESULT kv_hr_ = (expr);             \
        if (FAILED(kv_hr_)) return kv_hr_;         \
    } while (0)
