// The package's own custom actions, called by Windows Installer from the Binary table
// (deferred, rollback or immediate, each entry point is one action's body):
// - RunRegistrationVerb: runs the program's own registration or unregistration verb and
//   ends the installation when it fails (install, upgrade, repair);
// - RunRegistrationVerbLogged: the same verb, its failure written into the installer's log
//   while the installation goes on (the uninstall, and every rollback: a rollback that
//   stops half-way leaves less restored than one that goes on);
// - FailWhenDeferred: fails on purpose at the end of the install script, so that a test
//   (or an administrator) sees the whole rollback of a transaction.
// A deferred action sees only the property CustomActionData, which the immediate action of
// the same name sets to the whole command line: "<program path>" -Verb.
// The verb's exit code is its HRESULT; the log line gives it in hexadecimal.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "foundation/hex_digits.h"
#include "foundation/unique_resource_win.h"

namespace {

// A verb that has not ended after this long is stuck (a message box no one sees on the
// installer's desktop, a hung stop); it is ended and reported, and the installation does
// not wait forever.
constexpr DWORD verb_time_limit_ms = 120 * 1000;

// The status of a verb that could not be started or had to be ended.
constexpr DWORD status_verb_timed_out = 0x800705B4;  // HRESULT_FROM_WIN32(ERROR_TIMEOUT)

std::wstring status_text(DWORD status) {
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += static_cast<wchar_t>(hex_digit_upper(status >> shift));
    return text;
}

// One line into the installer's log (an information message: never a dialog).
void log_line(MSIHANDLE install, const std::wstring& text) {
    unique_msi_handle record(MsiCreateRecord(0));
    if (!record) return;
    MsiRecordSetStringW(record.get(), 0, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.get());
}

// The property CustomActionData of the running deferred or rollback action.
std::wstring action_data(MSIHANDLE install) {
    DWORD length = 0;
    wchar_t empty[1] = {};
    if (MsiGetPropertyW(install, L"CustomActionData", empty, &length) != ERROR_MORE_DATA) return {};
    std::vector<wchar_t> buffer(length + 1);
    length = static_cast<DWORD>(buffer.size());
    if (MsiGetPropertyW(install, L"CustomActionData", buffer.data(), &length) != ERROR_SUCCESS) return {};
    return std::wstring(buffer.data(), length);
}

struct verb_outcome {
    bool ran = false;       // the process started and ended by itself
    DWORD status = 0;       // its exit code, or the reason it did not run or end
};

verb_outcome run_command_line(std::wstring command_line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return {false, HRESULT_FROM_WIN32(GetLastError())};
    unique_handle process_handle(process.hProcess);
    unique_handle thread_handle(process.hThread);
    if (WaitForSingleObject(process_handle.get(), verb_time_limit_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process_handle.get(), status_verb_timed_out);
        WaitForSingleObject(process_handle.get(), 5000);
        return {false, status_verb_timed_out};
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_handle.get(), &code)) return {false, HRESULT_FROM_WIN32(GetLastError())};
    return {true, code};
}

// Runs the command line of CustomActionData and writes what became of it into the log.
// True when the verb ran and returned success.
bool run_and_log(MSIHANDLE install, const wchar_t* consequence_of_failure) {
    const std::wstring command_line = action_data(install);
    if (command_line.empty()) {
        log_line(install, std::wstring(L"KvRxCoreService registration: no command line given; ") +
                              consequence_of_failure);
        return false;
    }
    const verb_outcome outcome = run_command_line(command_line);
    const bool succeeded = outcome.ran && outcome.status == 0;
    std::wstring line = L"KvRxCoreService registration: " + command_line;
    if (succeeded)
        line += L" succeeded";
    else if (outcome.ran)
        line += L" failed with status " + status_text(outcome.status) + L"; " + consequence_of_failure;
    else
        line += L" did not run to its end, status " + status_text(outcome.status) + L"; " + consequence_of_failure;
    log_line(install, line);
    return succeeded;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall RunRegistrationVerb(MSIHANDLE install) {
    return run_and_log(install, L"the installation fails and is rolled back") ? ERROR_SUCCESS
                                                                              : ERROR_INSTALL_FAILURE;
}

extern "C" __declspec(dllexport) UINT __stdcall RunRegistrationVerbLogged(MSIHANDLE install) {
    run_and_log(install, L"the installation goes on and the registration may be left behind (rxctl doctor names what is left)");
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall FailWhenDeferred(MSIHANDLE install) {
    log_line(install, L"KvRxCoreService: WIXFAILWHENDEFERRED=1, the installation fails here on purpose");
    return ERROR_INSTALL_FAILURE;
}
