#include "foundation/kv_string_win.h"

#include <windows.h>

#include "foundation/kv_memory.h"
#include "foundation/kv_path_win.h"
#include "foundation/text_length.h"

#include <cstring>
#include <functional>
#include <utility>

namespace {
constexpr std::size_t unit_size = sizeof(wchar_t);

// A zero-filled buffer of `units` wide units.
wchar_t* allocate_units(std::size_t units) {
    return static_cast<wchar_t*>(kv_memory::allocate_zeroed(kv_memory::multiply_sizes(units, unit_size)));
}

using scratch_text = kv_memory::wiped_buffer<wchar_t>;
}  // namespace

void kv_wide_text_deleter::operator()(wchar_t* text) const noexcept {
    kv_memory::wipe_and_release(text, kv_text_length(text) * unit_size);
}

KV_string::KV_string() { replace_text(L"", 0); }

KV_string::KV_string(const wchar_t* text) { replace_text(text, kv_text_length(text)); }

KV_string::KV_string(std::nullptr_t) {}

KV_string::KV_string(const KV_string* other) {
    if (other) replace_text(other->wide_, other->length());
}

KV_string::KV_string(const KV_string& other) : KV_types() { replace_text(other.wide_, other.length()); }

KV_string::KV_string(KV_string&& other) noexcept
    : wide_(std::exchange(other.wide_, nullptr)), narrow_(std::exchange(other.narrow_, nullptr)) {}

KV_string& KV_string::operator=(const KV_string& other) { return assign(other); }

KV_string& KV_string::operator=(KV_string&& other) noexcept {
    if (this != &other) {
        replace_text(nullptr, 0);
        kv_memory::wipe_and_release(narrow_, narrow_ ? std::strlen(narrow_) : 0);
        wide_ = std::exchange(other.wide_, nullptr);
        narrow_ = std::exchange(other.narrow_, nullptr);
    }
    return *this;
}

KV_string::~KV_string() {
    replace_text(nullptr, 0);
    kv_memory::wipe_and_release(narrow_, narrow_ ? std::strlen(narrow_) : 0);
    narrow_ = nullptr;
}

void KV_string::replace_text(const wchar_t* text, std::size_t units) {
    const std::less<const wchar_t*> before;
    if (text && wide_ && !before(text, wide_) && before(text, wide_ + length() + 1)) {
        // A text inside the buffer about to be released (a part of this very string) is
        // copied out first.
        scratch_text copy(kv_memory::add_sizes(units, 1));
        std::memcpy(copy.data(), text, units * unit_size);
        replace_text(copy.data(), units);
        return;
    }
    // Release first: a replacement that fails to allocate leaves the null text.
    kv_memory::wipe_and_release(wide_, length() * unit_size);
    wide_ = nullptr;
    // State a derived class ties to the text goes with it, whichever operation (also
    // one reached through a KV_string reference) made the change.
    if (auto* path = dynamic_cast<KV_path*>(this)) path->forget_extras();
    if (!text) return;
    wchar_t* fresh = allocate_units(kv_memory::add_sizes(units, 1));
    std::memcpy(fresh, text, units * unit_size);
    wide_ = fresh;
}

void KV_string::assign_text(const wchar_t* text) { replace_text(text, kv_text_length(text)); }

KV_string& KV_string::assign(const KV_string& other) {
    if (this != &other) assign_text(other.wide_);
    return *this;
}

std::size_t KV_string::length() const noexcept { return kv_text_length(wide_); }

bool KV_string::equals(const wchar_t* text) const noexcept {
    if (!wide_ || !text) return !wide_ && !text;
    const wchar_t* a = wide_;
    while (*a && *a == *text) ++a, ++text;
    return *a == *text;
}

bool KV_string::differs(const KV_string& other) const noexcept { return !equals(other.wide_); }

KV_string KV_string::append(const wchar_t* text) {
    if (text) {
        const std::size_t mine = length(), theirs = kv_text_length(text);
        scratch_text joined(kv_memory::add_sizes(kv_memory::add_sizes(mine, theirs), 1));
        if (wide_) std::memcpy(joined.data(), wide_, mine * unit_size);
        std::memcpy(joined.data() + mine, text, theirs * unit_size);
        replace_text(joined.data(), mine + theirs);
    }
    return KV_string(*this);
}

KV_string KV_string::append(const KV_string& other) {
    // Also for other == this: both parts are copied out before the text is replaced.
    return append(other.wide_);
}

KV_string KV_string::concat(const KV_string* base, const wchar_t* text) {
    KV_string result(base);
    if (text) result.append(text);
    return result;
}

bool KV_string::substring(KV_string& output, std::uint32_t start, std::uint32_t count) const {
    const std::size_t n = length();
    if (start >= n || std::size_t{start} + count > n) return false;
    copy_range_to(output, start, count);
    return true;
}

bool KV_string::substring_from(KV_string& output, std::uint32_t start) const {
    const std::size_t n = length();
    if (start >= n) return false;
    copy_range_to(output, start, n - start);
    return true;
}

void KV_string::copy_range_to(KV_string& output, std::size_t start, std::size_t units) const {
    output.replace_text(wide_ + start, units);  // copies first when output is this string
}

kv_wide_text KV_string::duplicate() const {
    if (!wide_) return nullptr;
    const std::size_t n = length();
    wchar_t* copy = allocate_units(kv_memory::add_sizes(n, 1));
    std::memcpy(copy, wide_, n * unit_size);
    return kv_wide_text(copy);
}

const char* KV_string::narrow() {
    const wchar_t* source = wide_ ? wide_ : L"";
    const int bytes = WideCharToMultiByte(CP_ACP, 0, source, -1, nullptr, 0, nullptr, nullptr);
    // The conversion of a NUL-terminated text always yields at least the terminator.
    const std::size_t size = bytes > 0 ? static_cast<std::size_t>(bytes) : 1;
    char* scratch = static_cast<char*>(kv_memory::allocate_zeroed(size));
    if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, source, -1, scratch, bytes, nullptr, nullptr);
    scratch[size - 1] = '\0';
    const std::size_t converted = std::strlen(scratch);

    kv_memory::wipe_and_release(narrow_, narrow_ ? std::strlen(narrow_) : 0);
    narrow_ = nullptr;
    char* kept = nullptr;
    try {
        kept = static_cast<char*>(kv_memory::allocate_zeroed(kv_memory::add_sizes(converted, 1)));
    } catch (...) {
        kv_memory::wipe_and_release(scratch, size);
        throw;
    }
    std::memcpy(kept, scratch, converted);
    narrow_ = kept;
    kv_memory::wipe_and_release(scratch, size);
    return narrow_;
}

KV_string widen_ansi_text(const char* text) {
    if (!text) return KV_string(nullptr);
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) return KV_string();
    const std::size_t size = static_cast<std::size_t>(units);
    scratch_text wide(size);
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    wide.data()[size - 1] = L'\0';
    return KV_string(wide.data());
}
