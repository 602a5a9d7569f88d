#pragma once
// Registration of the type library RxCoreServiceLib, which the executable carries as
// type-library resource 1 (a .tlb file beside it serves when the resource cannot be
// loaded).
#include <windows.h>

#include <string>

// Loads the library from the module (else from the module path with the extension ".tlb")
// and registers it, with the directory of its help file as help directory; per user
// through RegisterTypeLibForUser when OLEAUT32.DLL offers it, else RegisterTypeLib.
HRESULT register_type_library(const std::wstring& module_path, bool per_user);

// Loads the library the same way and unregisters it (UnRegisterTypeLibForUser or
// UnRegisterTypeLib).
HRESULT unregister_type_library(const std::wstring& module_path, bool per_user);

// True when HKEY_CLASSES_ROOT (in per-user mode: the user's classes) holds version 1.0 of
// RxCoreServiceLib.
bool type_library_registered();
