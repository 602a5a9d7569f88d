#pragma once
// The failure switch tests set under HKLM\Software\KvTestDoubles\EventSystem (FailCall,
// FailStatus, FailOn): which call of the double fails, with which HRESULT, and optionally
// only for one text.
#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>

namespace event_system_double {

// The HRESULT `call` must return instead of doing its work, when the switch names it and
// FailOn is absent or equals one of `texts` (the call's text argument and the texts already
// set on the subscription concerned); nothing otherwise.
std::optional<HRESULT> injected_failure(const wchar_t* call, std::initializer_list<std::wstring> texts = {});

}  // namespace event_system_double
