#pragma once
// The full path of a loaded module's file, however long it is.
#include <windows.h>

#include <string>

// The path of `module` (null: the process's program); empty when it cannot be had.
std::wstring module_file_path(HMODULE module = nullptr);
