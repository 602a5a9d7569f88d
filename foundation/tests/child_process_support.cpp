#include "foundation/tests/child_process.h"

#include <atomic>
#include <vector>

namespace child_process {
namespace {
const std::wstring marker = L"--kv_child=";

std::wstring own_path() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) return std::wstring(path.data(), n);
        path.resize(path.size() * 2);
    }
}
}  // namespace

unique_handle start(const std::wstring& role) {
    std::wstring command = L"\"" + own_path() + L"\" --gtest_filter=KvChildProcess.Run " + marker + role;
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

std::wstring role() {
    const std::wstring line = GetCommandLineW();
    const std::size_t at = line.find(marker);
    if (at == std::wstring::npos) return std::wstring();
    std::wstring rest = line.substr(at + marker.size());
    const std::size_t end = rest.find(L' ');
    return end == std::wstring::npos ? rest : rest.substr(0, end);
}

std::wstring unique_name(const wchar_t* tag) {
    static std::atomic<unsigned> counter{0};
    return L"kvtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) + L"-" +
           std::to_wstring(counter++) + L"-" + tag;
}
}  // namespace child_process
