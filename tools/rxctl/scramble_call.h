#pragma once
// The product's scramble_text / unscramble_text applied to one text, for rxctl.
// Implemented in scramble_call_win.cpp.
#include <string>

// Codes (`scramble`) or decodes `text`, which holds no zero unit, through the system-string
// functions the service uses. Returns their status; on success `result` is the produced
// text without its terminating zero unit.
long call_scrambling(bool scramble, const std::u16string& text, std::u16string& result);
