#pragma once
// Named kernel objects: events in the "Global\" or "Local\" namespace, open security
// attributes that let any account open them, and the acquisition of a named mutex.
#include "foundation/kv_string_win.h"
#include "foundation/unique_resource_win.h"

#include <cstdint>
#include <memory>

// "Global\" + name when `global`, "Local\" + name otherwise; null for a null name.
kv_wide_text make_object_name(const wchar_t* name, bool global);

// A security-attributes record (inheritable handles) whose descriptor has a present,
// null access list, so that any account may open the object. Released with
// free_security_attributes; both are meant for one creation call.
SECURITY_ATTRIBUTES* open_security_attributes();
// Releases the descriptor and the record; null is ignored.
void free_security_attributes(SECURITY_ATTRIBUTES* attributes) noexcept;

// Owner of open security attributes for the length of one creation call.
struct kv_security_attributes_deleter {
    void operator()(SECURITY_ATTRIBUTES* attributes) const noexcept { free_security_attributes(attributes); }
};
using kv_open_security_attributes = std::unique_ptr<SECURITY_ATTRIBUTES, kv_security_attributes_deleter>;

// Creates (or opens) the mutex "Global\"/"Local\" + name with open security attributes.
// With `take_ownership` the caller owns the mutex on return: when it already existed,
// the call waits for it without a time limit. Null on failure. The caller releases
// (ReleaseMutex, when owned) and closes the handle, e.g. through unique_owned_mutex.
HANDLE acquire_named_mutex(const wchar_t* name, bool global, bool take_ownership);

// A kernel event, optionally named. Its virtual operations are called by an outside
// component through the table, so their order is fixed: destructor, set_event,
// reset_event, wait, event_handle, object_name. Construction never reports failure:
// a failed creation leaves a null handle, and the operations then return false / null.
class KV_event final : public KV_types {
public:
    // Creates the event "Global\"/"Local\" + name (unnamed for a null name), manual or
    // automatic reset, not signalled; an existing event of that name is opened instead.
    KV_event(const wchar_t* name, bool global, bool manual_reset);
    KV_event(const KV_event&) = delete;
    KV_event& operator=(const KV_event&) = delete;
    // Closes the handle and releases the name.
    ~KV_event();

    // Table entry 0. The outside component that receives KV_event pointers is built with
    // the platform's own compiler, whose tables hold one destructor entry (a deleting
    // destructor taking flags) where this compiler would put two. Declaring that entry
    // ourselves, with a non-virtual destructor, gives the table the component expects:
    // set_event at entry 1 ... object_name at entry 5. Bit 0 of `flags` frees the memory.
    virtual void* destroy(unsigned int flags);

    virtual bool set_event();
    virtual bool reset_event();
    // True only when the event was signalled within `timeout_ms` (0xFFFFFFFF: no limit).
    virtual bool wait(std::uint32_t timeout_ms);
    virtual HANDLE event_handle();
    // The namespaced name the event was created with; null for an unnamed event.
    virtual const wchar_t* object_name();

private:
    unique_handle handle_;
    kv_wide_text name_;
};
