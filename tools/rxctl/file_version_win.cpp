#include "tools/rxctl/file_version_win.h"

#include <windows.h>

#include <vector>

#include "tools/rxctl/status_words.h"

file_version_status read_file_version(const std::wstring& path, std::string& version, unsigned long& error) {
    version.clear();
    error = ERROR_SUCCESS;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        error = GetLastError();
        // A file that opens but has no such resource answers one of these.
        const bool absent = error == ERROR_RESOURCE_DATA_NOT_FOUND || error == ERROR_RESOURCE_TYPE_NOT_FOUND ||
                            error == ERROR_RESOURCE_NAME_NOT_FOUND || error == ERROR_SUCCESS;
        return absent ? file_version_status::no_resource : file_version_status::unreadable;
    }
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        error = GetLastError();
        return file_version_status::unreadable;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixed_size = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) || fixed == nullptr ||
        fixed_size < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != 0xFEEF04BD)
        return file_version_status::no_resource;
    version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
              "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
              std::to_string(LOWORD(fixed->dwFileVersionLS));
    return file_version_status::found;
}

std::string file_version_text(const std::wstring& path) {
    std::string version;
    unsigned long error = 0;
    switch (read_file_version(path, version, error)) {
    case file_version_status::found: return "version " + version;
    case file_version_status::no_resource: return "no version resource";
    case file_version_status::unreadable: break;
    }
    return "version unreadable (" + error_words(error) + ")";
}
