#include "tests/support/dispatch_by_name_win.h"

#include <string>

#include "foundation/com_resource_win.h"

namespace dispatch_by_name {

HRESULT call(IDispatch* object, const wchar_t* method, BSTR argument) {
    std::wstring name = method;
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = argument;  // borrowed: not cleared here
    DISPPARAMS parameters{&value, nullptr, 1, 0};
    EXCEPINFO exception{};
    hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &parameters, nullptr, &exception,
                        nullptr);
    if (hr == DISP_E_EXCEPTION) hr = exception.scode;
    const unique_bstr source(exception.bstrSource), description(exception.bstrDescription),
        help_file(exception.bstrHelpFile);
    return hr;
}

}  // namespace dispatch_by_name
