#include "foundation/kv_path_win.h"

#include "foundation/kv_memory.h"

#include <cstring>
#include <utility>

namespace {
std::unique_ptr<std::uint8_t[]> clone_item_list(const std::uint8_t* list) {
    if (!list) return nullptr;
    const std::size_t size = item_list_size(list);
    auto copy = std::make_unique<std::uint8_t[]>(size);
    std::memcpy(copy.get(), list, size);
    return copy;
}

// True when `rest` is exactly ".rxkey", ASCII letters compared without regard to case.
bool is_key_suffix(const wchar_t* rest, std::size_t units) noexcept {
    static constexpr wchar_t suffix[] = L".rxkey";
    if (units != 6) return false;
    for (std::size_t i = 0; i < 6; ++i) {
        wchar_t c = rest[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != suffix[i]) return false;
    }
    return true;
}
}  // namespace

std::size_t item_list_size(const std::uint8_t* list) noexcept {
    if (!list) return 0;
    std::size_t offset = 0;
    for (;;) {
        std::uint16_t count;
        std::memcpy(&count, list + offset, sizeof count);
        if (count == 0) return offset + sizeof count;
        // A count below its own size would never advance; treat it as the end.
        if (count < sizeof count) return offset + sizeof count;
        offset += count;
    }
}

KV_path::KV_path() = default;

KV_path::KV_path(const KV_path& other)
    : KV_string(other), items_(clone_item_list(other.items_.get())), value_(other.value_) {}

KV_path::KV_path(KV_path&& other) noexcept
    : KV_string(std::move(other)), items_(std::move(other.items_)), value_(std::exchange(other.value_, 0)) {}

KV_path& KV_path::operator=(const KV_path& other) {
    if (this != &other) {
        auto items = clone_item_list(other.items_.get());
        KV_string::assign(other);
        items_ = std::move(items);
        value_ = other.value_;
    }
    return *this;
}

KV_path& KV_path::operator=(KV_path&& other) noexcept {
    if (this != &other) {
        KV_string::operator=(std::move(other));
        items_ = std::move(other.items_);
        value_ = std::exchange(other.value_, 0);
    }
    return *this;
}

KV_path::~KV_path() { items_.reset(); }

void KV_path::set_item_list(const std::uint8_t* list) { items_ = clone_item_list(list); }

void KV_path::assign_path(const wchar_t* text) {
    KV_string::assign_text(text);  // drops the item list and the value as well
}

KV_path KV_path::join(const KV_string& component) {
    if (!component.text()) return *this;
    // Copy first: the component may be this very path.
    const KV_string tail(component);
    const std::size_t head_units = length();
    if (head_units == 0) {
        KV_string::assign_text(tail.text());
    } else {
        const wchar_t* head = text();
        const wchar_t* rest = tail.text();
        std::size_t rest_units = tail.length();
        kv_memory::wiped_buffer<wchar_t> joined(
            kv_memory::add_sizes(kv_memory::add_sizes(head_units, rest_units), 2));
        std::memcpy(joined.data(), head, head_units * sizeof(wchar_t));
        std::size_t at = head_units;
        const bool head_slash = head[head_units - 1] == L'\\';
        const bool tail_slash = rest_units > 0 && rest[0] == L'\\';
        if (head_slash && tail_slash) {
            ++rest;
            --rest_units;
        } else if (!head_slash && !tail_slash) {
            joined.data()[at++] = L'\\';
        }
        std::memcpy(joined.data() + at, rest, rest_units * sizeof(wchar_t));
        KV_string::assign_text(joined.data());
    }
    return *this;
}

bool KV_path::precedes(const KV_path& other) const noexcept {
    const wchar_t* a = text() ? text() : L"";
    const wchar_t* b = other.text() ? other.text() : L"";
    const std::size_t a_units = length(), b_units = other.length();
    const std::size_t shorter = a_units < b_units ? a_units : b_units;
    for (std::size_t i = 0; i < shorter; ++i) {
        if (is_key_suffix(a + i, a_units - i)) return true;
        if (is_key_suffix(b + i, b_units - i)) return false;
        if (a[i] == b[i]) continue;
        if (a[i] == L'\\') return true;
        if (b[i] == L'\\') return false;
        return static_cast<std::uint16_t>(a[i]) < static_cast<std::uint16_t>(b[i]);
    }
    return a_units < b_units;
}

KV_paths::~KV_paths() {
    for (auto& buffer : buffers_) buffer.reset();
    clear();
}

library_list::~library_list() {
    for (unique_hmodule& module : modules_) module.reset();  // in list order
    modules_.clear();
}

void library_list::adopt_module(HMODULE module) {
    if (module) modules_.emplace_back(module);
}

KV_interface_association_list::~KV_interface_association_list() {
    // Unlink each entry before deleting it, so destruction never recurses down the chain.
    while (head_) {
        std::unique_ptr<KV_interface_association> next = std::move(head_->next_);
        head_ = std::move(next);
    }
}

void KV_interface_association_list::push_front(std::unique_ptr<KV_interface_association> entry) noexcept {
    if (!entry) return;
    entry->next_ = std::move(head_);
    head_ = std::move(entry);
}

// Defined in this order so that the association list is destroyed first at exit.
library_list process_library_list;
KV_interface_association_list process_interface_associations;
