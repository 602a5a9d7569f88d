#include "tests/doubles/common/double_registry_win.h"

#include <algorithm>

namespace doubles {
namespace {

std::wstring full_path(const std::wstring& path) {
    return path.empty() ? std::wstring(registry_root) : std::wstring(registry_root) + L"\\" + path;
}

// The raw bytes of a value of the expected type; nothing when absent or of another type.
std::optional<std::vector<BYTE>> read_raw(HKEY key, const wchar_t* name, DWORD expected_type) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != expected_type)
        return std::nullopt;
    std::vector<BYTE> bytes(size);
    if (RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    bytes.resize(size);
    return bytes;
}

std::wstring units_of(const std::vector<BYTE>& bytes) {
    std::wstring units(bytes.size() / sizeof(wchar_t), L'\0');
    std::copy(bytes.begin(), bytes.begin() + units.size() * sizeof(wchar_t),
              reinterpret_cast<BYTE*>(units.data()));
    return units;
}

}  // namespace

unique_hkey open_key(const std::wstring& path, bool create) {
    unique_hkey key;
    const std::wstring full = full_path(path);
    const LSTATUS status =
        create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 key.put(), nullptr)
               : RegOpenKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (status != ERROR_SUCCESS) key.release();
    return key;
}

bool write_dword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

bool write_qword(HKEY key, const wchar_t* name, std::uint64_t value) {
    return RegSetValueExW(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

bool write_text(HKEY key, const wchar_t* name, const wchar_t* text) {
    const std::wstring value = text ? text : L"";
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool write_texts(HKEY key, const wchar_t* name, const std::vector<std::wstring>& texts) {
    std::wstring block;
    for (const std::wstring& text : texts) block += text + L'\0';
    block += L'\0';
    return RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block.data()),
                          static_cast<DWORD>(block.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::optional<DWORD> read_dword(HKEY key, const wchar_t* name) {
    const auto bytes = read_raw(key, name, REG_DWORD);
    if (!bytes || bytes->size() != sizeof(DWORD)) return std::nullopt;
    DWORD value = 0;
    std::copy(bytes->begin(), bytes->end(), reinterpret_cast<BYTE*>(&value));
    return value;
}

std::optional<std::uint64_t> read_qword(HKEY key, const wchar_t* name) {
    const auto bytes = read_raw(key, name, REG_QWORD);
    if (!bytes || bytes->size() != sizeof(std::uint64_t)) return std::nullopt;
    std::uint64_t value = 0;
    std::copy(bytes->begin(), bytes->end(), reinterpret_cast<BYTE*>(&value));
    return value;
}

std::optional<std::wstring> read_text(HKEY key, const wchar_t* name) {
    const auto bytes = read_raw(key, name, REG_SZ);
    if (!bytes) return std::nullopt;
    std::wstring text = units_of(*bytes);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

std::vector<std::wstring> read_texts(HKEY key, const wchar_t* name) {
    std::vector<std::wstring> texts;
    const auto bytes = read_raw(key, name, REG_MULTI_SZ);
    if (!bytes) return texts;
    const std::wstring block = units_of(*bytes);
    for (std::size_t at = 0; at < block.size();) {
        const std::size_t end = std::min(block.find(L'\0', at), block.size());
        if (end == at) break;  // the empty text that ends the list
        texts.push_back(block.substr(at, end - at));
        at = end + 1;
    }
    return texts;
}

DWORD increment(HKEY key, const wchar_t* name) {
    const DWORD next = read_dword(key, name).value_or(0) + 1;
    write_dword(key, name, next);
    return next;
}

std::vector<std::wstring> subkey_names(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool delete_tree(const std::wstring& path) {
    const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, full_path(path).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool delete_value(HKEY key, const wchar_t* name) {
    const LSTATUS status = RegDeleteValueW(key, name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace doubles
