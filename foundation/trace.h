#pragma once
// Trace log: one line per event in "TraceFile.kv" while the per-user switch is on.
// None of these operations fails, throws or changes the caller's last-error value.
//
// Names and formats must be literals: a text that comes from outside (a user name, a
// function name from a client's envelope) is passed as an argument of a literal format,
// never as the format itself. The consteval wrappers below enforce that at compile time.
#include <cstdint>
#include <type_traits>

// The qualified name of an operation ("Class::method"); a literal without '%', since
// it becomes part of a format.
class trace_name {
public:
    consteval trace_name(const wchar_t* text) : text_(text) {
        for (const wchar_t* p = text; *p; ++p)
            if (*p == L'%') throw "trace names must not contain '%'";
    }
    constexpr const wchar_t* c_str() const noexcept { return text_; }
private:
    const wchar_t* text_;
};

// A literal wide printf format (legacy wide rules: %s wide, %S narrow).
class trace_format {
public:
    consteval trace_format(const wchar_t* text) : text_(text) {}
    constexpr const wchar_t* c_str() const noexcept { return text_; }
private:
    const wchar_t* text_;
};

namespace trace_detail {
void scope(const wchar_t* name, int tag) noexcept;
void scope_formatted(const wchar_t* name, int tag, const wchar_t* format, ...) noexcept;
void message(const wchar_t* name, const wchar_t* format, ...) noexcept;

// Only scalars and pointers travel through the variadic formatter.
template <typename... Args>
inline constexpr bool printable = ((std::is_arithmetic_v<Args> || std::is_pointer_v<Args> ||
                                    std::is_enum_v<Args>) && ...);
}  // namespace trace_detail

// Entry of an operation: "P:%4d,T:%4d <module>!<name>[tag]".
inline void trace_scope(trace_name name, int tag = 0) noexcept {
    trace_detail::scope(name.c_str(), tag);
}

// Entry of an operation with a formatted text: "... <name>[tag](<text>)".
template <typename... Args>
inline void trace_scope(trace_name name, int tag, trace_format format, Args... args) noexcept {
    static_assert(trace_detail::printable<Args...>, "trace arguments must be scalars or pointers");
    trace_detail::scope_formatted(name.c_str(), tag, format.c_str(), args...);
}

// One formatted message; no line feed is added.
template <typename... Args>
inline void trace_message(trace_name name, trace_format format, Args... args) noexcept {
    static_assert(trace_detail::printable<Args...>, "trace arguments must be scalars or pointers");
    trace_detail::message(name.c_str(), format.c_str(), args...);
}

// A failure code (HRESULT or platform error) with the platform's text for it.
void trace_error(trace_name name, std::uint32_t code) noexcept;
