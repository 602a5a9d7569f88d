// In-process cost of one call_function, with the core command and with an echoing manager
// (the manager double), for envelopes of about 1 KB, 64 KB and 1 MB, beside the cost of
// its parts alone in the same run: unscramble the argument, load it, serialize it again,
// run the executor, scramble the result. What is left is what the dispatcher adds: its
// checks, tracing (off), routing and freeing. Prints figures only.
#include "dispatcher/class_factory_win.h"
#include "dispatcher/dispatcher_state_win.h"
#include "dispatcher/manager_component_win.h"
#include "dispatcher/rx_core_service_disp_win.h"
#include "dispatcher/scramble_text_win.h"
#include "foundation/com_resource_win.h"
#include "foundation/kv_named_objects_win.h"
#include "tests/bench/bench_timing_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "xml/kv_xml.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::wstring envelope(const wchar_t* name, std::size_t bytes) {
    std::wstring text = std::wstring(L"<function name=\"") + name + L"\"><data>";
    while (text.size() * sizeof(wchar_t) + 64 < bytes) text += L"abcdefgh ";
    return text + L"</data></function>";
}

// The steps any call of this envelope takes outside the dispatcher's own logic.
void parts(RX_core_service_disp* object, BSTR argument, const wchar_t* name, bool echo) {
    unique_bstr decoded;
    unscramble_text(argument, decoded.put());
    kv_xml_document document(create_xml_document());
    document->load_from_string(decoded.get());
    const kv_xml_string serialized(document->to_string());
    unique_bstr result;
    if (echo) forward_call(name, serialized.get(), result.put());
    else object->core_perform_operation(name, serialized.get(), result.put());
    unique_bstr coded;
    scramble_text(result.get(), coded.put());
    bench::keep(coded.get());
}

void measure(RX_core_service_disp_i* dispatcher, const char* executor, const wchar_t* name, bool echo) {
    auto* object = static_cast<RX_core_service_disp*>(dispatcher);
    for (const std::size_t size : {std::size_t{1024}, std::size_t{64 * 1024}, std::size_t{1024 * 1024}}) {
        unique_bstr argument;
        const std::wstring text = envelope(name, size);
        scramble_text(text.c_str(), argument.put());
        LONG ret_code = 0;
        // Alternating rounds, the best of each side: other load on the machine hits both.
        double call = 1e9, alone = 1e9;
        for (int round = 0; round < 5; ++round) {
            call = std::min(call, bench::seconds_per_run([&] {
                unique_bstr ret;
                dispatcher->call_function(argument.get(), ret.put(), &ret_code);
            }, 0.1));
            alone = std::min(alone, bench::seconds_per_run([&] { parts(object, argument.get(), name, echo); }, 0.1));
        }
        std::printf("%-14s %8zu B  call %10.1f us  parts alone %10.1f us  dispatcher adds %6.1f%%  (ret_code %08lX)\n",
                    executor, text.size() * sizeof(wchar_t), call * 1e6, alone * 1e6,
                    100.0 * (call - alone) / alone, static_cast<unsigned long>(ret_code));
    }
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    set_main_thread_id(GetCurrentThreadId());
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvern\\Ostrand\\Agent", L"AgentGUID", REG_SZ,
                    L"{BENCH}", sizeof L"{BENCH}");
    KV_event stop(nullptr, false, true), done(nullptr, false, true);
    if (FAILED(manager_double::register_double()) || FAILED(create_manager()) ||
        FAILED(start_manager(&stop, &done))) {
        std::printf("the manager double is not available\n");
        return 1;
    }
    {
        com_ptr<RX_core_service_disp_i> dispatcher;
        rx_core_service_disp_class_object()->CreateInstance(nullptr, IID_RX_core_service_disp_i,
                                                            dispatcher.put_void());
        measure(dispatcher.get(), "core command", L"core_has_agent_GUID_changed", false);
        measure(dispatcher.get(), "echo manager", L"manager_echo", true);
    }
    stop.set_event();
    done.wait(INFINITE);
    release_manager();
    CoUninitialize();
    return 0;
}
