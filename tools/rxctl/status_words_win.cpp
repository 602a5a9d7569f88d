#include "tools/rxctl/status_words.h"

#include <windows.h>

#include "client/call_protocol.h"
#include "foundation/unique_resource_win.h"
#include "tools/rxctl/console_io.h"

namespace {

// The system's message for a code, without its line end; empty when it has none.
std::string system_text(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const unique_hlocal owner(buffer);
    if (length == 0 || buffer == nullptr) return {};
    std::string text = utf8_text(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::string error_words(unsigned long error) {
    const std::string text = system_text(error);
    return "error " + std::to_string(error) + (text.empty() ? std::string() : ": " + text);
}

std::string hresult_words(std::int32_t status) {
    std::string words = rx_client::describe_status(status);
    if (words.find('(') != std::string::npos) return words;  // the client library named it
    const auto bits = static_cast<std::uint32_t>(status);
    // A Win32 error carried in an HRESULT is found under its own code.
    std::string text = system_text(bits);
    if (text.empty() && (bits & 0xFFFF0000u) == 0x80070000u) text = system_text(bits & 0xFFFFu);
    return text.empty() ? words : words + " (" + text + ")";
}
