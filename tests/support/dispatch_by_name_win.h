#pragma once
// Calls a method of one text argument by name through IDispatch, as scripting clients and
// the event system's late-bound delivery do.
#include <windows.h>
#include <oleauto.h>

namespace dispatch_by_name {
// GetIDsOfNames, then Invoke with `argument` as the one parameter. Returns the method's own
// result (the exception's code when Invoke reports DISP_E_EXCEPTION), or the failure of
// either step; the exception's texts are freed.
HRESULT call(IDispatch* object, const wchar_t* method, BSTR argument);
}  // namespace dispatch_by_name
