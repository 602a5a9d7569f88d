#pragma once
// BSTR copies for COM calls. A BSTR that cannot be allocated raises std::bad_alloc, as
// exhausted memory does everywhere in the system, instead of passing a null text on.
#include <new>

#include "foundation/com_resource_win.h"

// A new BSTR holding a copy of `text`, freed by its owner; null for a null text.
inline unique_bstr allocate_bstr(const wchar_t* text) {
    if (!text) return unique_bstr();
    unique_bstr copy(SysAllocString(text));
    if (!copy) throw std::bad_alloc();
    return copy;
}
