#include "dispatcher/scramble_text_win.h"

#include "dispatcher/argument_scrambling.h"

#include <cstdint>

namespace as = argument_scrambling;
static_assert(sizeof(wchar_t) == sizeof(as::unit), "Windows wide characters are 16-bit units");

namespace {

const as::unit* units(const wchar_t* text) noexcept { return reinterpret_cast<const as::unit*>(text); }

// Stores a new string of `length` units plus the 0 unit through `result` (null when it
// cannot be had) and returns its units, or null.
as::unit* allocate_result(std::size_t length, BSTR* result) noexcept {
    *result = nullptr;
    // The byte length 2n + 2 must fit the 32-bit length of a system string.
    constexpr std::size_t max_length = (std::size_t{UINT32_MAX} - 2) / 2;
    if (length > max_length) return nullptr;
    *result = SysAllocStringByteLen(nullptr, static_cast<UINT>(2 * length + 2));
    if (*result == nullptr) return nullptr;
    auto* out = reinterpret_cast<as::unit*>(*result);
    out[length] = 0;
    return out;
}

}  // namespace

HRESULT scramble_counted_text(const wchar_t* plain, std::size_t plain_length, BSTR* coded) {
    if (plain == nullptr || coded == nullptr) return E_INVALIDARG;
    std::size_t coded_length = 0;
    if (!as::scrambled_length(plain_length, coded_length)) {
        *coded = nullptr;
        return E_OUTOFMEMORY;
    }
    as::unit* out = allocate_result(coded_length, coded);
    if (out == nullptr) return E_OUTOFMEMORY;
    as::scramble_units(units(plain), plain_length, out);
    return S_OK;
}

HRESULT unscramble_counted_text(const wchar_t* coded, std::size_t coded_length, BSTR* plain) {
    if (coded == nullptr || plain == nullptr) return E_INVALIDARG;
    as::unit* out = allocate_result(as::unscrambled_length(coded_length), plain);
    if (out == nullptr) return E_OUTOFMEMORY;
    as::unscramble_units(units(coded), coded_length, out);
    return S_OK;
}

HRESULT scramble_text(const wchar_t* plain, BSTR* coded) {
    if (plain == nullptr || coded == nullptr) return E_INVALIDARG;
    return scramble_counted_text(plain, as::text_length(units(plain)), coded);
}

HRESULT unscramble_text(const wchar_t* coded, BSTR* plain) {
    if (coded == nullptr || plain == nullptr) return E_INVALIDARG;
    return unscramble_counted_text(coded, as::text_length(units(coded)), plain);
}
