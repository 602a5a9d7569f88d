#include "tools/rxctl/doctor_file_checks_win.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include "foundation/event_message_win.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/installed_state_win.h"
#include "tools/rxctl/status_words.h"

namespace doctor {
namespace {

// The service writes its entries under its own name as source.
constexpr const wchar_t* event_source_name = installed_state::service_name;
constexpr wchar_t event_source_key[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QlnVxCoreService";
constexpr DWORD all_event_types = 7;  // error, warning, information

std::string text(const std::wstring& wide) { return utf8_text(wide.c_str()); }

enum class signature { intact, unsigned_file, altered, untrusted };

// One WinVerifyTrust verification of the file, its state closed again.
signature verify(const std::wstring& file, LONG& status) {
    WINTRUST_FILE_INFO file_info{};
    file_info.cbStruct = sizeof file_info;
    file_info.pcwszFilePath = file.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file_info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    switch (static_cast<DWORD>(status)) {
    case ERROR_SUCCESS: return signature::intact;
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
    case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN):
    case static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN): return signature::unsigned_file;
    case static_cast<DWORD>(TRUST_E_BAD_DIGEST): return signature::altered;
    default: return signature::untrusted;
    }
}

std::string file_name(const std::wstring& path) { return text(path.substr(path.find_last_of(L"\\/") + 1)); }

bool same_path(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

check signatures_check(const std::vector<std::wstring>& files) {
    check c;
    c.name = "signatures";
    c.mend = "reinstall the package";
    std::vector<std::string> unsigned_files, intact_files;
    for (const std::wstring& file : files) {
        if (file.empty() || GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        LONG status = 0;
        switch (verify(file, status)) {
        case signature::intact: intact_files.push_back(file_name(file)); break;
        case signature::unsigned_file: unsigned_files.push_back(file_name(file)); break;
        case signature::altered: c.problem(text(file) + " was altered after it was signed"); break;
        case signature::untrusted:
            c.problem(text(file) + " is not trusted (" + hresult_words(static_cast<std::int32_t>(status)) + ")");
            break;
        }
    }
    if (c.result == verdict::fail) return c;
    auto joined = [](const std::vector<std::string>& names) {
        std::string out;
        for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
        return out;
    };
    if (!unsigned_files.empty()) {
        c.result = verdict::info;
        c.detail = "unsigned: " + joined(unsigned_files) + " (a development build)";
        if (!intact_files.empty()) c.detail += "; signed and intact: " + joined(intact_files);
        return c;
    }
    c.detail = intact_files.empty() ? "no installed file to check" : "signed and intact: " + joined(intact_files);
    return c;
}

check event_log_source_check(const std::wstring& exe) {
    check c;
    c.name = "event-log source";
    c.mend = "reinstall the package";
    const std::string key = "HKLM\\" + text(event_source_key);
    // Message 0 as the event viewer shows a start entry: through the registered file.
    const event_message_text message = application_event_message(event_source_name, 0, L"Service started");
    if (message.message_file.empty()) {
        c.problem(key + "\\EventMessageFile is missing (" + error_words(message.error) +
                  "): the service's entries show without their text");
        return c;
    }
    if (!exe.empty() && !same_path(message.message_file, exe))
        c.problem("its EventMessageFile is " + text(message.message_file) + ", not " + text(exe));
    DWORD types = 0, bytes = sizeof types;
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, event_source_key, L"TypesSupported", RRF_RT_REG_DWORD,
                                        nullptr, &types, &bytes);
    if (status != ERROR_SUCCESS) c.problem(key + "\\TypesSupported is missing or not a REG_DWORD");
    else if (types != all_event_types) c.problem("its TypesSupported is " + std::to_string(types) + ", not 7");
    if (message.error != ERROR_SUCCESS)
        c.problem(text(message.message_file) + " gives no message 0 (" + error_words(message.error) + ")");
    if (c.result != verdict::fail) c.detail = key + ": " + text(message.message_file) + ", types 7, message 0 formats";
    return c;
}

}  // namespace doctor
