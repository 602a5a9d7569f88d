#include "foundation/tests/trace_capture_win.h"

#include "foundation/trace_test_seam_win.h"
#include "foundation/unique_resource_win.h"

#include <sddl.h>

namespace trace_test {
namespace {
std::wstring key_path(const std::wstring& hive) { return hive + L"\\" + logging_key; }
}  // namespace

std::wstring current_user_sid() {
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<std::uint8_t> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return {};
    unique_hlocal text;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                                reinterpret_cast<LPWSTR*>(text.put())))
        return {};
    return static_cast<const wchar_t*>(text.get());
}

bool set_switch_value(HKEY root, const std::wstring& hive, DWORD type, const void* data,
                      DWORD size) {
    unique_hkey key;
    if (RegCreateKeyExW(root, key_path(hive).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), switch_value, 0, type, static_cast<const BYTE*>(data),
                          size) == ERROR_SUCCESS;
}

bool delete_switch_value(HKEY root, const std::wstring& hive) {
    unique_hkey key;
    const LSTATUS opened =
        RegOpenKeyExW(root, key_path(hive).c_str(), 0, KEY_SET_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) return false;
    const LSTATUS deleted = RegDeleteValueW(key.get(), switch_value);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

bool delete_logging_key(HKEY root, const std::wstring& hive) {
    const LSTATUS deleted = RegDeleteKeyW(root, key_path(hive).c_str());
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

bool enable_tracing() {
    const DWORD one = 1;
    const bool ok = set_switch_value(HKEY_USERS, current_user_sid(), REG_DWORD, &one, sizeof(one));
    forget_switch_decision();
    return ok;
}

bool disable_tracing() {
    const bool ok = delete_switch_value(HKEY_USERS, current_user_sid());
    forget_switch_decision();
    return ok;
}

void forget_switch_decision() { trace_forget_switch_decision(); }

std::wstring trace_file_path() {
    wchar_t directory[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
    if (length == 0 || length > MAX_PATH) return {};
    return std::wstring(directory, length) + L"TraceFile.kv";
}

bool trace_file_exists() {
    return GetFileAttributesW(trace_file_path().c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool delete_trace_file() {
    return DeleteFileW(trace_file_path().c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::optional<std::vector<std::uint8_t>> read_trace_bytes() {
    // Share everything: a writer of this or another process may open the file meanwhile.
    unique_file file(CreateFileW(trace_file_path().c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), chunk, chunk + read);
    return bytes;
}

std::wstring read_trace_text() {
    const auto bytes = read_trace_bytes();
    if (!bytes) return {};
    std::size_t start = 0;
    if (bytes->size() >= 2 && (*bytes)[0] == 0xFF && (*bytes)[1] == 0xFE) start = 2;
    std::wstring text;
    for (std::size_t i = start; i + 1 < bytes->size(); i += 2)
        text.push_back(static_cast<wchar_t>((*bytes)[i] | ((*bytes)[i + 1] << 8)));
    return text;
}

std::vector<std::wstring> read_trace_lines() {
    const std::wstring text = read_trace_text();
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::optional<std::wstring> strip_line_prefix(const std::wstring& line, DWORD pid) {
    // "HH:MM:SS" with a valid time of day.
    if (line.size() < 9) return std::nullopt;
    auto two_digits = [&](std::size_t at, int limit) {
        if (!iswdigit(line[at]) || !iswdigit(line[at + 1])) return false;
        return (line[at] - L'0') * 10 + (line[at + 1] - L'0') < limit;
    };
    if (!two_digits(0, 24) || line[2] != L':' || !two_digits(3, 60) || line[5] != L':' ||
        !two_digits(6, 60))
        return std::nullopt;
    const std::wstring process = L" [" + std::to_wstring(pid) + L"] ";
    if (line.compare(8, process.size(), process) != 0) return std::nullopt;
    return line.substr(8 + process.size());
}

trace_capture::trace_capture() {
    ready_ = delete_trace_file() && enable_tracing();
}

trace_capture::~trace_capture() {
    disable_tracing();
    delete_trace_file();
}

}  // namespace trace_test
