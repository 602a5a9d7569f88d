#include "tools/rxctl/console_io.h"

#include <windows.h>

#include <vector>

#include "foundation/text_length.h"
#include "tools/rxctl/text_units.h"

namespace {

bool is_console(HANDLE h) {
    DWORD mode = 0;
    return GetConsoleMode(h, &mode) != FALSE;
}

// A console takes UTF-16 text; anything else takes the bytes unchanged.
bool write_all(HANDLE h, std::string_view utf8, unsigned long& error) {
    error = ERROR_SUCCESS;
    if (utf8.empty()) return true;
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (is_console(h)) {
        const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
        std::vector<wchar_t> wide(static_cast<std::size_t>(count > 0 ? count : 0));
        if (count > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), count);
        DWORD written = 0;
        if (!wide.empty() && !WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) {
            error = GetLastError();
            return false;
        }
        return true;
    }
    while (!utf8.empty()) {
        const DWORD chunk = utf8.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(utf8.size());
        DWORD written = 0;
        if (!WriteFile(h, utf8.data(), chunk, &written, nullptr)) {
            error = GetLastError();
            return false;
        }
        utf8.remove_prefix(written);
    }
    return true;
}

}  // namespace

bool read_standard_input(std::string& bytes, unsigned long& error) {
    error = ERROR_SUCCESS;
    bytes.clear();
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr) return true;
    if (in == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(in, buffer, sizeof buffer, &read, nullptr)) {
            const DWORD e = GetLastError();
            // The writer closing its end of a pipe is the end of the input.
            if (e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF) return true;
            error = e;
            return false;
        }
        if (read == 0) return true;
        bytes.append(buffer, read);
    }
}

bool write_standard_output(std::string_view utf8, unsigned long& error) {
    return write_all(GetStdHandle(STD_OUTPUT_HANDLE), utf8, error);
}

void write_standard_error(std::string_view utf8) {
    unsigned long ignored = 0;
    write_all(GetStdHandle(STD_ERROR_HANDLE), utf8, ignored);
}

std::string utf8_text(const wchar_t* text) {
    if (!text) return {};
    const std::u16string units(text, text + kv_text_length(text));
    return text_units::to_utf8_replacing(units);
}
