#pragma once
// The result document of the core command: a new document ("?xml" root, version "1.0")
// with one top-level element "value" holding "true" or "false", serialized (beginning
// with U+FEFF) into a new BSTR; null when any step fails.
#include <windows.h>
#include <oleauto.h>

BSTR make_value_result(bool value);
