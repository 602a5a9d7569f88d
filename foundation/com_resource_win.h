#pragma once
// Owners of COM resources: BSTRs (plain, or wiped before they are freed), VARIANTs and
// interface pointers. Kept apart from foundation/unique_resource_win.h so that code using only
// handles and keys does not pull in the COM headers.
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>
#include <utility>

#include "foundation/kv_memory.h"
#include "foundation/unique_resource_win.h"

namespace unique_resource_traits {
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
}  // namespace unique_resource_traits

using unique_bstr = unique_resource<unique_resource_traits::bstr>;
using unique_wiped_bstr = unique_resource<unique_resource_traits::wiped_bstr>;

// A VARIANT that frees what it holds (VariantClear) when it goes out of scope.
class unique_variant {
public:
    unique_variant() noexcept { ::VariantInit(&value_); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    ~unique_variant() { ::VariantClear(&value_); }
    VARIANT* get() noexcept { return &value_; }
private:
    VARIANT value_;
};

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
