#include "tests/support/child_process_win.h"

#include "foundation/module_path_win.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <vector>

namespace child_process {
namespace {
const std::wstring marker = L"--kv_child=";

std::map<std::wstring, role_function>& roles() {
    static std::map<std::wstring, role_function> table;
    return table;
}

// "<name>:<argument>" from the command line, or empty when this is no child.
std::wstring requested() {
    const std::wstring line = GetCommandLineW();
    const std::size_t at = line.find(marker);
    if (at == std::wstring::npos) return std::wstring();
    const std::wstring rest = line.substr(at + marker.size());
    return rest.substr(0, rest.find(L' '));
}
}  // namespace

role::role(const wchar_t* name, role_function function) { roles()[name] = function; }

unique_handle start(const wchar_t* name, const std::wstring& argument) {
    std::wstring command = L"\"" + module_file_path() + L"\" " + marker + name + L":" + argument;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return unique_handle();
    CloseHandle(info.hThread);
    return unique_handle(info.hProcess);
}

DWORD wait_for_exit(HANDLE process, DWORD timeout_ms) {
    if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    GetExitCodeProcess(process, &code);
    return code;
}

std::wstring unique_name(const wchar_t* tag) {
    static std::atomic<unsigned> counter{0};
    return L"kvtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) + L"-" +
           std::to_wstring(counter++) + L"-" + tag;
}

std::optional<int> run_requested_role() {
    const std::wstring request = requested();
    if (request.empty()) return std::nullopt;
    const std::size_t colon = request.find(L':');
    const auto found = roles().find(request.substr(0, colon));
    if (found == roles().end()) {
        std::fprintf(stderr, "child role failed: this program has no role '%ls'\n", request.substr(0, colon).c_str());
        return 2;
    }
    return found->second(colon == std::wstring::npos ? std::wstring() : request.substr(colon + 1));
}

int fail(const char* what) {
    std::fprintf(stderr, "child role failed: %s\n", what);
    return 1;
}
}  // namespace child_process
