#pragma once
// The registry area where the COM doubles keep what they record and the switches tests
// set: HKEY_LOCAL_MACHINE\Software\KvTestDoubles\<double>. The doubles run inside other
// processes (the service, a second test process), so the registry is the channel every
// side can read and write.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/unique_resource_win.h"

namespace doubles {

inline constexpr const wchar_t* registry_root = L"Software\\KvTestDoubles";

// HKLM\Software\KvTestDoubles\<path>, created when `create` is true. Null on failure.
unique_hkey open_key(const std::wstring& path, bool create);

bool write_dword(HKEY key, const wchar_t* name, DWORD value);
bool write_qword(HKEY key, const wchar_t* name, std::uint64_t value);
// A REG_SZ value; a null text is stored as the empty text.
bool write_text(HKEY key, const wchar_t* name, const wchar_t* text);
// A REG_MULTI_SZ value of the given texts.
bool write_texts(HKEY key, const wchar_t* name, const std::vector<std::wstring>& texts);

std::optional<DWORD> read_dword(HKEY key, const wchar_t* name);
std::optional<std::uint64_t> read_qword(HKEY key, const wchar_t* name);
std::optional<std::wstring> read_text(HKEY key, const wchar_t* name);
// The texts of a REG_MULTI_SZ value; empty when absent.
std::vector<std::wstring> read_texts(HKEY key, const wchar_t* name);

// Adds one to a REG_DWORD counter (absent counts as 0) and returns the new value.
DWORD increment(HKEY key, const wchar_t* name);
// The names of the subkeys, sorted.
std::vector<std::wstring> subkey_names(HKEY key);

// Deletes HKLM\Software\KvTestDoubles\<path> with everything below it (true when absent).
bool delete_tree(const std::wstring& path);
bool delete_value(HKEY key, const wchar_t* name);

}  // namespace doubles
