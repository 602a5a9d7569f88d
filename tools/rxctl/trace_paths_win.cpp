#include "tools/rxctl/trace_paths_win.h"

#include <windows.h>

#include "foundation/trace_writer_win.h"
#include "tools/rxctl/console_io.h"

namespace {

std::wstring system_folder_file(const wchar_t* folder) {
    wchar_t windows[MAX_PATH + 1];
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    std::wstring path(windows, length);
    if (path.back() != L'\\') path += L'\\';
    return path + folder + L"\\" + trace_file_name;
}

std::wstring own_temporary_file() {
    wchar_t directory[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
    if (length == 0 || length > MAX_PATH) return {};
    return std::wstring(directory, length) + trace_file_name;
}

bool same_path(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace

std::vector<std::wstring> trace_file_candidates() {
    std::vector<std::wstring> paths;
    for (const std::wstring& path :
         {system_folder_file(L"SystemTemp"), system_folder_file(L"Temp"), own_temporary_file()}) {
        if (path.empty()) continue;
        bool seen = false;
        for (const std::wstring& earlier : paths) seen = seen || same_path(earlier, path);
        if (!seen) paths.push_back(path);
    }
    return paths;
}

std::wstring newest_trace_file(const std::vector<std::wstring>& candidates) {
    std::wstring newest;
    ULARGE_INTEGER newest_time{};
    for (const std::wstring& path : candidates) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        ULARGE_INTEGER written{};
        written.LowPart = data.ftLastWriteTime.dwLowDateTime;
        written.HighPart = data.ftLastWriteTime.dwHighDateTime;
        if (newest.empty() || written.QuadPart > newest_time.QuadPart) {
            newest = path;
            newest_time = written;
        }
    }
    return newest;
}

std::string listed_paths(const std::vector<std::wstring>& paths) {
    std::string text;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i != 0) text += i + 1 == paths.size() ? " or " : ", ";
        text += utf8_text(paths[i].c_str());
    }
    return text;
}
