#pragma once
// KV_path: a KV_string for file and registry paths. `join` puts exactly one backslash
// at the seam; `precedes` orders an item's key file (the item's path + ".rxkey") right
// after the item and before everything else that continues the item's path.
// Also the process-wide path containers, which the system creates at start and
// destroys at exit.
#include "foundation/kv_string_win.h"
#include "foundation/unique_resource_win.h"

#include <cstdint>
#include <list>
#include <memory>

class KV_path : public KV_string {
public:
    // The empty text, no item list, value 0.
    KV_path();
    KV_path(const KV_path& other);
    KV_path(KV_path&& other) noexcept;
    KV_path& operator=(const KV_path& other);
    KV_path& operator=(KV_path&& other) noexcept;
    // Releases the item list, then the string.
    ~KV_path() override;

    // Slot 2, after the destructor and `differs`: the key-file ordering.
    virtual bool precedes(const KV_path& other) const noexcept;

    // Replaces the text (a part of this very path included), releases the item list and
    // sets the value to 0.
    void assign_path(const wchar_t* text);
    // On a path, replacing the text is always assign_path.
    void assign_text(const wchar_t* text) { assign_path(text); }
    // Appends `component` with exactly one backslash at the seam (a null component
    // changes nothing; an empty or null path becomes a copy of the component), then
    // releases the item list and sets the value to 0. Returns a copy of the result.
    KV_path join(const KV_string& component);

    // A shell item-identifier list carried along with the path (a sequence of items,
    // each led by its 16-bit byte count, ended by a zero count), or null. Copies carry
    // a clone; changing the text drops it.
    const std::uint8_t* item_list() const noexcept { return items_.get(); }
    // Takes a copy of `list` (null drops the current one).
    void set_item_list(const std::uint8_t* list);
    // A 16-bit value that travels with the path: copied by copies, 0 after a change.
    std::uint16_t value() const noexcept { return value_; }
    void set_value(std::uint16_t value) noexcept { value_ = value; }

private:
    // Every change of the text, through whichever operation, drops the item list and
    // the value (KV_string calls this when it replaces the text of a path).
    friend class KV_string;
    void forget_extras() noexcept {
        items_.reset();
        value_ = 0;
    }

    std::unique_ptr<std::uint8_t[]> items_;
    std::uint16_t value_ = 0;
};

// Bytes of an item-identifier list including its zero terminator.
std::size_t item_list_size(const std::uint8_t* list) noexcept;

// A list of paths with three owned buffers the system never fills.
class KV_paths : public std::list<KV_path> {
public:
    KV_paths() = default;
    KV_paths(const KV_paths&) = delete;
    KV_paths& operator=(const KV_paths&) = delete;
    // Releases the three buffers, then every path through its own destructor.
    virtual ~KV_paths();

private:
    std::unique_ptr<std::uint8_t[]> buffers_[3];
};

// The paths and handles of loaded modules. Destruction frees every module handle
// (FreeLibrary) in list order, empties the handle list, then destroys the paths.
class library_list : public KV_paths {
public:
    library_list() = default;
    ~library_list() override;
    // Takes ownership of a module handle (null is ignored).
    void adopt_module(HMODULE module);
    std::size_t module_count() const noexcept { return modules_.size(); }

private:
    std::list<unique_hmodule> modules_;
};

// An entry of the interface association list; derived entries carry the association.
class KV_interface_association {
public:
    KV_interface_association() = default;
    KV_interface_association(const KV_interface_association&) = delete;
    KV_interface_association& operator=(const KV_interface_association&) = delete;
    virtual ~KV_interface_association() = default;

private:
    friend class KV_interface_association_list;
    std::unique_ptr<KV_interface_association> next_;
};

// A singly linked list of polymorphic entries. Destruction deletes every entry, first
// to last, through the entry's own destructor (iteratively, whatever the length).
class KV_interface_association_list {
public:
    KV_interface_association_list() = default;
    KV_interface_association_list(const KV_interface_association_list&) = delete;
    KV_interface_association_list& operator=(const KV_interface_association_list&) = delete;
    virtual ~KV_interface_association_list();
    // Puts an entry in front of the others (null is ignored).
    void push_front(std::unique_ptr<KV_interface_association> entry) noexcept;
    bool empty() const noexcept { return !head_; }

private:
    std::unique_ptr<KV_interface_association> head_;
};

// The process-wide instances, constructed before the main program runs (the library
// list first) and destroyed at exit in reverse order. The system adds nothing to them.
extern library_list process_library_list;
extern KV_interface_association_list process_interface_associations;
