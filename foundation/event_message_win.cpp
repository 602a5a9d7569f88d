#include "foundation/event_message_win.h"

#include "foundation/unique_resource_win.h"

namespace {

constexpr wchar_t application_log_key[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr wchar_t message_file_value[] = L"EventMessageFile";

// The registered file. RRF_RT_REG_SZ admits a REG_EXPAND_SZ too, expanded by RegGetValueW.
DWORD registered_message_file(const wchar_t* source, std::wstring& file) {
    const std::wstring key = std::wstring(application_log_key) + source;
    constexpr DWORD text_types = RRF_RT_REG_SZ;
    DWORD bytes = 0;
    LSTATUS status = ::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), message_file_value, text_types,
                                    nullptr, nullptr, &bytes);
    // The value can grow between the two reads: read again while it does not fit.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        file.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(file.size() * sizeof(wchar_t));
        status = ::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), message_file_value, text_types,
                                nullptr, file.data(), &bytes);
        if (status == ERROR_SUCCESS) {
            file.resize(file.find(L'\0'));
            return file.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
        }
    }
    return static_cast<DWORD>(status);
}

}  // namespace

event_message_text application_event_message(const wchar_t* source, DWORD message_id,
                                             const wchar_t* insertion) {
    event_message_text result;
    result.error = registered_message_file(source, result.message_file);
    if (result.error != ERROR_SUCCESS) return result;

    // As data only: nothing of the file runs, and its resources are all that is read.
    unique_hmodule module(::LoadLibraryExW(result.message_file.c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        result.error = ::GetLastError();
        return result;
    }
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(insertion)};
    unique_hlocal buffer;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        module.get(), message_id, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0,
        reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    if (length == 0) {
        result.error = ::GetLastError();
        return result;
    }
    result.text.assign(static_cast<const wchar_t*>(buffer.get()), length);
    return result;
}
