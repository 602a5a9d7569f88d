#include "foundation/kv_named_objects_win.h"

#include "foundation/kv_memory.h"
#include "foundation/text_length.h"

#include <cstring>
#include <new>

kv_wide_text make_object_name(const wchar_t* name, bool global) {
    if (!name) return nullptr;
    const wchar_t* prefix = global ? L"Global\\" : L"Local\\";
    const std::size_t p = kv_text_length(prefix), n = kv_text_length(name);
    const std::size_t units = kv_memory::add_sizes(kv_memory::add_sizes(p, n), 1);
    kv_wide_text result(static_cast<wchar_t*>(
        kv_memory::allocate_zeroed(kv_memory::multiply_sizes(units, sizeof(wchar_t)))));
    std::memcpy(result.get(), prefix, p * sizeof(wchar_t));
    std::memcpy(result.get() + p, name, n * sizeof(wchar_t));
    return result;
}

SECURITY_ATTRIBUTES* open_security_attributes() {
    auto descriptor = std::make_unique<SECURITY_DESCRIPTOR>();
    // Present and null: the object carries no access restrictions at all.
    InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(descriptor.get(), TRUE, nullptr, FALSE);
    auto attributes = std::make_unique<SECURITY_ATTRIBUTES>();
    attributes->nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes->bInheritHandle = TRUE;
    attributes->lpSecurityDescriptor = descriptor.release();
    return attributes.release();
}

void free_security_attributes(SECURITY_ATTRIBUTES* attributes) noexcept {
    if (!attributes) return;
    delete static_cast<SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor);
    delete attributes;
}

HANDLE acquire_named_mutex(const wchar_t* name, bool global, bool take_ownership) {
    unique_handle mutex;
    DWORD error = ERROR_SUCCESS;
    {
        const kv_wide_text object_name = make_object_name(name, global);
        const kv_open_security_attributes attributes(open_security_attributes());
        mutex.reset(CreateMutexW(attributes.get(), take_ownership ? TRUE : FALSE,
                                 object_name ? object_name.get() : name));
        error = GetLastError();
    }
    // An existing mutex is opened without granting ownership: wait for it.
    if (take_ownership && mutex && error == ERROR_ALREADY_EXISTS)
        WaitForSingleObject(mutex.get(), INFINITE);
    return mutex.release();
}

KV_event::KV_event(const wchar_t* name, bool global, bool manual_reset) {
    {
        const kv_wide_text object_name = make_object_name(name, global);
        const kv_open_security_attributes attributes(open_security_attributes());
        handle_.reset(CreateEventW(attributes.get(), manual_reset ? TRUE : FALSE, FALSE, object_name.get()));
    }
    name_ = make_object_name(name, global);
}

KV_event::~KV_event() = default;

void* KV_event::destroy(unsigned int flags) {
    this->~KV_event();
    if (flags & 1u) ::operator delete(this);
    return this;
}

bool KV_event::set_event() {
    HANDLE h = event_handle();
    return h && SetEvent(h);
}

bool KV_event::reset_event() {
    HANDLE h = event_handle();
    return h && ResetEvent(h);
}

bool KV_event::wait(std::uint32_t timeout_ms) {
    HANDLE h = event_handle();
    return h && WaitForSingleObject(h, timeout_ms) == WAIT_OBJECT_0;
}

HANDLE KV_event::event_handle() { return handle_.get(); }

const wchar_t* KV_event::object_name() { return name_.get(); }
