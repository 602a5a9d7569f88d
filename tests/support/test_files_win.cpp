#include "tests/support/test_files_win.h"

#include "foundation/unique_resource_win.h"

namespace test_files {
std::wstring temporary_path(const wchar_t* prefix, const wchar_t* name) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    return std::wstring(folder, n) + prefix + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

bool write(const std::wstring& path, const bytes& content) {
    const unique_file file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return content.empty() || (WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                                         nullptr) && written == content.size());
}

std::optional<bytes> read(const std::wstring& path) {
    const unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    bytes content(GetFileSize(file.get(), nullptr));
    DWORD got = 0;
    if (!content.empty() && !ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &got, nullptr))
        return std::nullopt;
    content.resize(got);
    return content;
}
}  // namespace test_files
