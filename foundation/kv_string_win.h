#pragma once
// KV_string: an owned, NUL-terminated UTF-16 text with an on-demand ANSI copy.
// Hygiene before speed: every buffer is allocated at exactly length + 1 units from the
// kv_memory allocator, every change allocates a fresh buffer, and every buffer that
// held text is overwritten with zeros before it is released.
// A null text and the empty text are different states (see `equals`, `differs`).
// KV_stringf: a KV_string formatted once at construction, never truncated.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>

// The empty common root of the foundation's value classes.
class KV_types {};

// Releases a NUL-terminated wide buffer of the kv_memory allocator, wiped first.
struct kv_wide_text_deleter {
    void operator()(wchar_t* text) const noexcept;
};
// An owned wide text handed out by `duplicate` and `make_object_name`.
using kv_wide_text = std::unique_ptr<wchar_t[], kv_wide_text_deleter>;

class KV_string : public KV_types {
public:
    // The empty text (a buffer holding only the terminator).
    KV_string();
    // A copy of `text`; null gives the null text.
    KV_string(const wchar_t* text);
    // The null text (resolves a literal nullptr between the two pointer constructors).
    KV_string(std::nullptr_t);
    // A copy of the other's text; a null pointer or a null text gives the null text.
    explicit KV_string(const KV_string* other);
    KV_string(const KV_string& other);
    KV_string(KV_string&& other) noexcept;
    KV_string& operator=(const KV_string& other);
    KV_string& operator=(KV_string&& other) noexcept;
    // Wipes and releases the wide buffer, then the narrow one.
    virtual ~KV_string();

    // Slot 1 after the destructor: the exact negation of `equals(other.text())`.
    virtual bool differs(const KV_string& other) const noexcept;

    // Wipes and releases the old wide buffer, then copies `text` (null gives the null
    // text; a part of this very string is copied out first). The narrow buffer is left
    // alone.
    void assign_text(const wchar_t* text);
    // assign_text with the other's text; nothing when `other` is this very object.
    KV_string& assign(const KV_string& other);

    // The wide buffer, null for the null text; valid until the next change.
    const wchar_t* text() const noexcept { return wide_; }
    // UTF-16 units before the terminator; 0 for the null text.
    std::size_t length() const noexcept;
    // True when both are null or both hold the same code units (case-sensitive).
    bool equals(const wchar_t* text) const noexcept;

    // This string followed by `text` (null changes nothing); returns a copy of the result.
    KV_string append(const wchar_t* text);
    KV_string append(const KV_string& other);
    // The base's text followed by `text`, base unchanged. A null base (pointer or text)
    // counts as empty when `text` is given; a null `text` gives a plain copy of the base
    // (the null text when the base is null or holds the null text).
    static KV_string concat(const KV_string* base, const wchar_t* text);

    // `output` receives `count` units from `start`; false, output untouched, when
    // start >= length or start + count > length.
    bool substring(KV_string& output, std::uint32_t start, std::uint32_t count) const;
    // `output` receives the units from `start` to the end; false when start >= length.
    bool substring_from(KV_string& output, std::uint32_t start) const;

    // An exact-size heap copy of the wide text; null for the null text.
    kv_wide_text duplicate() const;

    // Converts the text to the ANSI code page and keeps the result as the narrow buffer
    // (the previous one wiped and released); the null text converts as the empty text.
    // Valid until the next call of `narrow` or the destruction.
    const char* narrow();

protected:
    // Replaces the wide buffer with a fresh exact-size copy of `units` units of `text`
    // (null gives the null text); the old buffer is wiped and released first, after
    // `text` has been copied out when it lies in that buffer. Every change of the text
    // ends here; on a KV_path it also drops the item list and the value.
    void replace_text(const wchar_t* text, std::size_t units);

private:
    void copy_range_to(KV_string& output, std::size_t start, std::size_t units) const;

    wchar_t* wide_ = nullptr;
    char* narrow_ = nullptr;
};

// A KV_string formatted at construction with the runtime's legacy printf rules: in a
// wide format %s and %c take wide arguments and %S and %C narrow ones; in a narrow
// format the roles are reversed. Formatting starts in a 4096-unit buffer and doubles it
// until the whole text fits. A format the runtime rejects (not lack of room) leaves the
// empty text, as does a null format.
class KV_stringf : public KV_string {
public:
    explicit KV_stringf(const wchar_t* format, ...);
    explicit KV_stringf(const char* format, ...);
};

// The formatting behind KV_stringf, for callers that hold a va_list (the list is not
// consumed: each attempt formats from its own copy).
KV_string format_wide_text(const wchar_t* format, va_list args);
KV_string format_narrow_text(const char* format, va_list args);

// The wide form of an ANSI text (CP_ACP); null gives the null text.
KV_string widen_ansi_text(const char* text);
