#include "tools/rxctl/scramble_call.h"

#include "dispatcher/scramble_text_win.h"
#include "foundation/com_resource_win.h"

long call_scrambling(bool scramble, const std::u16string& text, std::u16string& result) {
    const auto* in = reinterpret_cast<const wchar_t*>(text.c_str());
    unique_bstr out;
    const HRESULT hr = scramble ? scramble_text(in, out.put()) : unscramble_text(in, out.put());
    if (FAILED(hr)) return hr;
    // The recorded length counts the terminating zero unit as well.
    const UINT length = SysStringLen(out.get());
    const auto* units = reinterpret_cast<const char16_t*>(out.get());
    result.assign(units, length == 0 ? 0 : length - 1);
    return hr;
}
