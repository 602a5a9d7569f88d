#pragma once
// A GUID as registry text and back: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include <guiddef.h>

#include <cstddef>

// The text of a GUID in braces, upper case: the same text StringFromGUID2 writes.
struct guid_text {
    static constexpr std::size_t length = 38;
    wchar_t text[length + 1];
    const wchar_t* c_str() const noexcept { return text; }
};
guid_text text_of_guid(const GUID& guid) noexcept;

// Reads exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hexadecimal digits of either
// case, nothing before or after); false, with `guid` unspecified, for anything else.
bool guid_from_text(const wchar_t* text, GUID& guid) noexcept;
