#pragma once
// Argument scrambling on system strings: the form in which `call_function` receives its
// argument and returns its result. Both functions are stateless and thread-safe.
//
// The result is a new BSTR from SysAllocStringByteLen(nullptr, 2n + 2) holding the n
// produced units followed by a 0 unit, so its recorded length (SysStringLen) is n + 1.
// The caller frees it with SysFreeString.
//   E_INVALIDARG   the text or the result pointer is null; *result is left untouched.
//   E_OUTOFMEMORY  the result cannot be allocated or its size cannot be represented;
//                  *result is set to null.
#include <windows.h>
#include <oleauto.h>
#include <cstddef>

HRESULT scramble_text(const wchar_t* plain, BSTR* coded);
HRESULT unscramble_text(const wchar_t* coded, BSTR* plain);

// The same with the length given instead of taken up to the first 0 unit; the text is
// read only within [text, text + length).
HRESULT scramble_counted_text(const wchar_t* plain, std::size_t plain_length, BSTR* coded);
HRESULT unscramble_counted_text(const wchar_t* coded, std::size_t coded_length, BSTR* plain);
