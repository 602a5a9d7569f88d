// The core command "core_has_agent_GUID_changed": tells a client whether the identity of
// the machine's management agent changed since anybody last asked, and records it.
#include "dispatcher/core_operations_win.h"
#include "dispatcher/core_registry_seam_win.h"
#include "dispatcher/rx_core_service_disp_win.h"

#include "foundation/trace.h"
#include "foundation/unique_resource_win.h"
#include "xml/kv_xml.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>

namespace {

constexpr trace_name scope = L"RX_core_service_disp::core_perform_operation";
constexpr wchar_t command_name[] = L"core_has_agent_GUID_changed";
constexpr wchar_t agent_key[] = L"SOFTWARE\\Halvern\\Ostrand\\Agent";
constexpr wchar_t agent_key_32[] = L"SOFTWARE\\WOW6432Node\\Halvern\\Ostrand\\Agent";
constexpr wchar_t agent_value[] = L"AgentGUID";
constexpr wchar_t product_key[] = L"SOFTWARE\\Quillon\\Vessaro";
constexpr wchar_t recorded_value[] = L"CurrentAgentGUID";
constexpr DWORD guid_buffer_bytes = 2048;

core_registry_calls registry{&::RegQueryValueExW, &::RegSetValueExW};

// The agent's GUID from the native key, or from the 32-bit one when the native value is
// missing or empty; empty when neither has one.
std::wstring read_agent_guid() {
    auto buffer = std::make_unique<wchar_t[]>(guid_buffer_bytes / sizeof(wchar_t));
    DWORD size = guid_buffer_bytes;
    LSTATUS status = ::RegGetValueW(HKEY_LOCAL_MACHINE, agent_key, agent_value, RRF_RT_REG_SZ,
                                    nullptr, buffer.get(), &size);
    if (status != ERROR_SUCCESS || buffer[0] == 0) {
        // A failed read may leave part of a value behind: start the second one clean.
        std::fill_n(buffer.get(), guid_buffer_bytes / sizeof(wchar_t), L'\0');
        size = guid_buffer_bytes;
        status = ::RegGetValueW(HKEY_LOCAL_MACHINE, agent_key_32, agent_value, RRF_RT_REG_SZ,
                                nullptr, buffer.get(), &size);
        if (status != ERROR_SUCCESS) buffer[0] = 0;
    }
    return std::wstring(buffer.get());
}

LSTATUS write_recorded_guid(HKEY key, const std::wstring& guid) {
    const DWORD bytes = static_cast<DWORD>((guid.size() + 1) * sizeof(wchar_t));
    return registry.set_value(key, recorded_value, 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(guid.c_str()), bytes);
}

}  // namespace

core_registry_calls set_core_registry_calls(core_registry_calls calls) noexcept {
    const core_registry_calls previous = registry;
    registry.query_value = calls.query_value ? calls.query_value : &::RegQueryValueExW;
    registry.set_value = calls.set_value ? calls.set_value : &::RegSetValueExW;
    return previous;
}

BSTR make_value_result(bool value) {
    const kv_xml_document document(create_xml_document());
    if (!document || !document->create_new()) return nullptr;
    KV_xml_node* root = document->get_root();
    KV_xml_node* element = root ? root->add_child(L"value") : nullptr;
    if (element == nullptr) return nullptr;
    element->set_text(value ? L"true" : L"false");
    const kv_xml_string text(document->to_string());
    return text ? ::SysAllocString(text.get()) : nullptr;
}

HRESULT RX_core_service_disp::core_perform_operation(const wchar_t* name, const wchar_t*,
                                                     BSTR* result) {
    trace_scope(scope, 0, L"%s", name);
    if (name == nullptr || std::wcscmp(name, command_name) != 0) {
        trace_message(scope, L"Unknown command!\n");
        return E_INVALIDARG;
    }
    const std::wstring current = read_agent_guid();
    if (current.empty()) {
        trace_message(scope, L"Failed to get current agent GUID\n");
        return E_FAIL;
    }

    unique_hkey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, product_key, 0, nullptr, 0,
                                       KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        trace_message(scope, L"Failed to open registry key HKLM\\%s: %08X.\n", product_key, status);
        return E_FAIL;
    }

    std::wstring recorded;
    DWORD type = 0;
    DWORD size = 0;
    if (registry.query_value(key.get(), recorded_value, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        status = write_recorded_guid(key.get(), current);
        if (status != ERROR_SUCCESS) {
            trace_message(scope, L"Failed to write registry value HKLM\\%s\\CurrentAgentGUID %08X.\n",
                          product_key, status);
            return E_FAIL;
        }
        recorded = current;
    } else {
        // Reported size + 2 units, that is twice the reported bytes and two terminators
        // more: whatever the value's type or stored terminator, its text ends inside.
        const std::size_t units = static_cast<std::size_t>(size) + 2;
        auto buffer = std::make_unique<wchar_t[]>(units);
        DWORD read_size = size;
        status = registry.query_value(key.get(), recorded_value, nullptr, &type,
                                    reinterpret_cast<BYTE*>(buffer.get()), &read_size);
        if (status != ERROR_SUCCESS) {
            trace_message(scope, L"Failed to read registry value HKLM\\%s\\CurrentAgentGUID %08X.\n",
                          product_key, status);
            return E_FAIL;
        }
        recorded.assign(buffer.get());
    }

    const bool changed = recorded != current;
    if (changed) {
        status = write_recorded_guid(key.get(), current);
        if (status != ERROR_SUCCESS) {
            trace_message(scope, L"Failed to write registry value HKLM\\%s\\CurrentAgentGUID %08X.\n",
                          product_key, status);
            return E_FAIL;
        }
    }
    *result = make_value_result(changed);
    return *result != nullptr ? S_OK : E_FAIL;
}
