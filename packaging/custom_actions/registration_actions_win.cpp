// The package's own custom actions, called by Windows Installer from the Binary table
// (deferred, rollback or immediate, each entry point is one action's body):
// - RunRegistrationVerb: runs the program's own registration or unregistration verb and
//   ends the installation when it fails (install, upgrade, repair);
// - RunRegistrationVerbLogged: the same verb, its failure written into the installer's log
//   while the installation goes on (the uninstall, and every rollback: a rollback that
//   stops half-way leaves less restored than one that goes on);
// - RunUnregistrationVerbLogged: the logged verb, unless another installed product still
//   holds the program's component (the newer version, while the older one is removed after
//   a major upgrade): its registration is then that product's and stays;
// - RestoreEarlierProducts (rollback of a major upgrade): repairs each older version whose
//   program file is gone after the rollback. Windows Installer puts the older version's
//   files back itself and this finds nothing to do; Wine's rollback removes the files of
//   the components both versions share, and the repair brings them, the registration and
//   the running service back;
// - KeepProgramCopy, UnregisterForRollback, ForgetProgramCopy (a fresh install): the
//   program is copied before it registers, the registration's rollback unregisters with the
//   program or, when it is gone, with the copy, and the commit (or that rollback) deletes the
//   copy. Wine's rollback may remove the installed files before the rollback actions run.
//   Removing a type library reads the library file the registration names, so the copy
//   first registers itself (which points the registration at the copy) and then removes it;
// - FailWhenDeferred: fails on purpose at the end of the install script, so that a test
//   (or an administrator) sees the whole rollback of a transaction.
// A deferred or rollback action sees only the property CustomActionData, which the package's
// immediate action Set<action> fills in: the whole command line "<program path>" -Verb, for
// some actions after a component code. The verb's exit code is its HRESULT; the log line
// gives it in hexadecimal. The entry points are noexcept: exhausted memory ends the
// custom-action process, which the installer takes as the action's failure.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <iterator>
#include <string>
#include <vector>

#include "foundation/hex_digits.h"
#include "foundation/trace_file_trust_win.h"
#include "foundation/unique_resource_win.h"

namespace {

// A verb that has not ended after this long is stuck (a message box no one sees on the
// installer's desktop, a hung stop); it is ended and reported, and the installation does
// not wait forever.
constexpr DWORD verb_time_limit_ms = 120 * 1000;

// The status of a verb that had to be ended.
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

// A property of the session; in a deferred or rollback action only CustomActionData,
// ProductCode and UserSID are there.
std::wstring property(MSIHANDLE install, const wchar_t* name) {
    DWORD length = 0;
    wchar_t empty[1] = {};
    if (MsiGetPropertyW(install, name, empty, &length) != ERROR_MORE_DATA) return {};
    std::vector<wchar_t> buffer(length + 1);
    length = static_cast<DWORD>(buffer.size());
    if (MsiGetPropertyW(install, name, buffer.data(), &length) != ERROR_SUCCESS) return {};
    return std::wstring(buffer.data(), length);
}

constexpr std::size_t guid_text_length = 38;  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}

// The first installed product other than `own_product` that holds `component`, or "".
// Under Wine the older version's removal after an upgrade runs as an installation of its
// own, without UPGRADINGPRODUCTCODE; the component's other client tells it apart.
std::wstring other_client(const std::wstring& component, const std::wstring& own_product) {
    wchar_t product[guid_text_length + 1];
    for (DWORD index = 0; MsiEnumClientsW(component.c_str(), index, product) == ERROR_SUCCESS; ++index)
        if (CompareStringOrdinal(product, -1, own_product.c_str(), -1, TRUE) != CSTR_EQUAL) return product;
    return {};
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
bool run_and_log(MSIHANDLE install, const std::wstring& command_line, const wchar_t* consequence_of_failure) {
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

// "{component} rest" into the component code and the rest; false without a code in front.
bool split_component(const std::wstring& data, std::wstring& component, std::wstring& rest) {
    if (data.size() < guid_text_length + 1 || data[0] != L'{' || data[guid_text_length] != L' ') return false;
    component = data.substr(0, guid_text_length);
    rest = data.substr(guid_text_length + 1);
    return true;
}

// "{product};{product}..." (the form of a property the Upgrade table fills) into its items.
std::vector<std::wstring> product_list(const std::wstring& text) {
    std::vector<std::wstring> products;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L';', start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) products.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return products;
}

std::wstring repair_hint(const std::wstring& product) {
    return L"msiexec /i " + product + L" REINSTALL=ALL REINSTALLMODE=omus";
}

// Repairs `product` when its copy of `component` (the program) is gone; logs what it did.
void restore_when_missing(MSIHANDLE install, const std::wstring& product, const std::wstring& component) {
    const std::wstring name = L"KvRxCoreService rollback: the earlier version " + product;
    if (MsiQueryProductStateW(product.c_str()) != INSTALLSTATE_DEFAULT) {
        log_line(install, name + L" is not installed; nothing to restore");
        return;
    }
    wchar_t path[1024];
    DWORD length = static_cast<DWORD>(std::size(path));
    if (MsiGetComponentPathW(product.c_str(), component.c_str(), path, &length) == INSTALLSTATE_LOCAL) {
        log_line(install, name + L" has its program in place; nothing to restore");
        return;
    }
    // A process of its own, as the installer runs the older version's removal: a repair
    // inside this custom-action process would take over its connection to the installer.
    wchar_t system_folder[MAX_PATH];
    const UINT folder_length = GetSystemDirectoryW(system_folder, MAX_PATH);
    if (folder_length == 0 || folder_length >= MAX_PATH) {
        log_line(install, name + L" lost its program; the system folder is unknown, repair it: " + repair_hint(product));
        return;
    }
    const verb_outcome outcome = run_command_line(L"\"" + std::wstring(system_folder) + L"\\msiexec.exe\" /i " + product +
                                                  L" REINSTALL=ALL REINSTALLMODE=omus /qn");
    log_line(install, name + L" lost its program; its repair " +
                          (outcome.ran && outcome.status == ERROR_SUCCESS
                               ? std::wstring(L"succeeded")
                               : L"failed with status " + status_text(outcome.status) + L", repair it: " +
                                     repair_hint(product)));
}

// Where the program waits, during a fresh install, for the registration's rollback: the
// temporary folder of the installer's account, the same for the deferred, rollback and
// commit actions.
std::wstring program_copy_path() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(folder)), folder);
    if (length == 0 || length > MAX_PATH) return {};
    return std::wstring(folder, length) + L"KvRxCoreService-unregister.exe";
}

bool file_exists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

constexpr wchar_t consequence_logged[] =
    L"the installation goes on and the registration may be left behind (rxctl doctor names what is left)";

// Writes the whole of file `from` into the open file `to`.
bool copy_bytes(const std::wstring& from, HANDLE to) {
    const unique_file source(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) return false;
    std::vector<BYTE> buffer(64 * 1024);
    for (;;) {
        DWORD read = 0, written = 0;
        if (!ReadFile(source.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return false;
        if (read == 0) return true;
        if (!WriteFile(to, buffer.data(), read, &written, nullptr) || written != read) return false;
    }
}

// True when the copy is still the file KeepProgramCopy made: no reparse point, one link,
// owned by the installer's account or the administrators.
bool copy_trusted(const std::wstring& copy) {
    const unique_file file(CreateFileW(copy.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    return file && GetFileInformationByHandle(file.get(), &info) &&
           judge_trace_file(info.dwFileAttributes, info.nNumberOfLinks, trace_file_owner_trusted(file.get())) ==
               trace_file_refusal::none;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall RunRegistrationVerb(MSIHANDLE install) noexcept {
    return run_and_log(install, property(install, L"CustomActionData"), L"the installation fails and is rolled back")
               ? ERROR_SUCCESS
               : ERROR_INSTALL_FAILURE;
}

extern "C" __declspec(dllexport) UINT __stdcall RunRegistrationVerbLogged(MSIHANDLE install) noexcept {
    run_and_log(install, property(install, L"CustomActionData"), consequence_logged);
    return ERROR_SUCCESS;
}

// CustomActionData: "{component code} <command line>".
extern "C" __declspec(dllexport) UINT __stdcall RunUnregistrationVerbLogged(MSIHANDLE install) noexcept {
    std::wstring component, command_line;
    if (!split_component(property(install, L"CustomActionData"), component, command_line)) {
        log_line(install, L"KvRxCoreService registration: no component code before the command line; " +
                              std::wstring(consequence_logged));
        return ERROR_SUCCESS;
    }
    const std::wstring holder = other_client(component, property(install, L"ProductCode"));
    if (!holder.empty()) {
        log_line(install, L"KvRxCoreService registration: the program stays installed by the product " + holder +
                              L", whose registration it is; it is left as it is");
        return ERROR_SUCCESS;
    }
    run_and_log(install, command_line, consequence_logged);
    return ERROR_SUCCESS;
}

// CustomActionData: "{component code} {product code};{product code}...", the older versions
// the major upgrade found.
extern "C" __declspec(dllexport) UINT __stdcall RestoreEarlierProducts(MSIHANDLE install) noexcept {
    std::wstring component, products;
    if (!split_component(property(install, L"CustomActionData"), component, products)) {
        log_line(install, L"KvRxCoreService rollback: no component code before the earlier versions");
        return ERROR_SUCCESS;
    }
    for (const std::wstring& product : product_list(products)) restore_when_missing(install, product, component);
    return ERROR_SUCCESS;
}

// CustomActionData: the program's path. Best effort: without the copy the rollback still
// uses the program when it is there. The copy waits in a folder where every user may create
// files, and the rollback runs it as the installer's account: it is made anew, as a file no
// one else may change (the access list of the installer's account and the administrators),
// never over a file found there; the rollback runs it only while it is still that file.
extern "C" __declspec(dllexport) UINT __stdcall KeepProgramCopy(MSIHANDLE install) noexcept {
    const std::wstring program = property(install, L"CustomActionData");
    const std::wstring copy = program_copy_path();
    bool made = false;
    if (!copy.empty()) {
        DeleteFileW(copy.c_str());  // a copy an earlier run left behind
        trace_file_security own_only;
        const unique_file fresh(own_only.attributes() == nullptr
                                    ? INVALID_HANDLE_VALUE
                                    : CreateFileW(copy.c_str(), GENERIC_WRITE, 0, own_only.attributes(), CREATE_NEW,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        made = fresh && copy_bytes(program, fresh.get());
    }
    if (!made)
        log_line(install, L"KvRxCoreService registration: no copy of " + program +
                              L" for the rollback, status " + status_text(HRESULT_FROM_WIN32(GetLastError())));
    return ERROR_SUCCESS;
}

// CustomActionData: the program's path. Runs -UnregServer with it, or, when it is gone, with
// its copy after the copy's -RegServer (the registration then names a library file that
// exists), then deletes the copy.
extern "C" __declspec(dllexport) UINT __stdcall UnregisterForRollback(MSIHANDLE install) noexcept {
    const std::wstring program = property(install, L"CustomActionData");
    const std::wstring copy = program_copy_path();
    const bool with_copy = !file_exists(program) && !copy.empty() && copy_trusted(copy);
    if (with_copy) run_and_log(install, L"\"" + copy + L"\" -RegServer", consequence_logged);
    run_and_log(install, L"\"" + (with_copy ? copy : program) + L"\" -UnregServer", consequence_logged);
    if (!copy.empty()) DeleteFileW(copy.c_str());
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall ForgetProgramCopy(MSIHANDLE) noexcept {
    const std::wstring copy = program_copy_path();
    if (!copy.empty()) DeleteFileW(copy.c_str());
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall FailWhenDeferred(MSIHANDLE install) noexcept {
    log_line(install, L"KvRxCoreService: WIXFAILWHENDEFERRED=1, the installation fails here on purpose");
    return ERROR_INSTALL_FAILURE;
}
