// The running service through the control manager and COM: how long a start takes until the
// start event and a stop until SERVICE_STOPPED, and out-of-process calls per second of
// call_function (core command; echoing manager double with 1 KB and 64 KB envelopes) beside
// a null round trip on the same proxy (GetTypeInfoCount); and the service's handle count
// around a thousand DisplayLock calls from this process, each on a new object (asked by
// name through IDispatch), which the service refuses. Prints figures only.
#include "dispatcher/scramble_text_win.h"
#include "foundation/com_resource_win.h"
#include "tests/bench/bench_timing_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "tests/reliability/reliability_support_win.h"
#include "tests/support/dispatch_by_name_win.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {
using namespace service_host_test;

// Start request to start event, stop request to SERVICE_STOPPED, in milliseconds.
struct start_stop {
    double start_ms = -1;
    double stop_ms = -1;
};

start_stop time_start_and_stop() {
    start_stop times;
    double begun = bench::now_seconds();
    if (!request_start() || !wait_for_start_event(30000)) return times;
    times.start_ms = (bench::now_seconds() - begun) * 1000;
    begun = bench::now_seconds();
    if (!control(SERVICE_CONTROL_STOP)) return times;
    while (state() != SERVICE_STOPPED) {
        if (bench::now_seconds() - begun > 30) return times;
        Sleep(1);
    }
    times.stop_ms = (bench::now_seconds() - begun) * 1000;
    return times;
}

// The envelope of `function` with its payload grown until the whole text has `bytes`.
std::wstring envelope_of(const wchar_t* function, std::size_t bytes) {
    std::wstring text = reliability::envelope(function, 1, 1, 0);
    const std::size_t payload = bytes > text.size() * sizeof(wchar_t) ? bytes - text.size() * sizeof(wchar_t) : 0;
    return reliability::envelope(function, 1, 1, payload);
}

// One kind of call: the null round trip, or call_function with an argument (null or coded).
struct call_kind {
    const char* what;
    enum { null_call, null_argument, envelope } form;
    std::wstring text;
    double seconds = 1e9;  // best time of one call
    LONG ret_code = 0;     // of the last call, to show that it did what it should
};

void call_once(RX_core_service_disp_i* dispatcher, call_kind& kind, BSTR argument) {
    if (kind.form == call_kind::null_call) {
        UINT count = 0;
        dispatcher->GetTypeInfoCount(&count);
        return;
    }
    unique_bstr ret;
    dispatcher->call_function(argument, ret.put(), &kind.ret_code);
}

void time_calls(RX_core_service_disp_i* dispatcher) {
    std::vector<call_kind> kinds = {
        {"null call (GetTypeInfoCount)", call_kind::null_call, L""},
        // call_function's own marshaling: a null argument, refused at once.
        {"call_function, null argument", call_kind::null_argument, L""},
        {"core command", call_kind::envelope, envelope_of(reliability::core_command, 200)},
        // The double's quiet echo: its recording (registry writes) is not the service's work.
        {"echoing manager, 1 KB", call_kind::envelope, envelope_of(manager_double::quiet_echo, 1024)},
        {"echoing manager, 64 KB", call_kind::envelope, envelope_of(manager_double::quiet_echo, 64 * 1024)},
        {"recording echo, 1 KB", call_kind::envelope, envelope_of(manager_double::echo, 1024)},
        // 64 KB one way: a text without markup, refused after one scan.
        {"64 KB refused, no answer", call_kind::envelope, std::wstring(32 * 1024, L'x')},
    };
    // Alternating rounds, the best of each: other load on the machine hits every kind.
    for (int round = 0; round < 5; ++round) {
        for (call_kind& kind : kinds) {
            unique_bstr argument;
            if (kind.form == call_kind::envelope) scramble_text(kind.text.c_str(), argument.put());
            kind.seconds = std::min(kind.seconds, bench::seconds_per_run([&] { call_once(dispatcher, kind, argument.get()); }, 0.3));
        }
    }
    std::printf("out-of-process calls, best of 5 rounds:\n");
    const double null_call = kinds.front().seconds;
    for (const call_kind& kind : kinds) {
        std::printf("  %-30s %6zu B  %8.1f us  %6.0f calls/s  %5.2f of the null-call rate  (ret_code %08lX)\n",
                    kind.what, kind.text.size() * sizeof(wchar_t), kind.seconds * 1e6, 1 / kind.seconds,
                    null_call / kind.seconds, static_cast<unsigned long>(kind.ret_code));
    }
}

// Create an object, call DisplayLock("SYSTEM") by name, release it; a thousand times. A
// plain client may not forge logon events, so each call should come back E_ACCESSDENIED
// and leave the service's handles where they were.
void forged_display_locks(DWORD service) {
    constexpr int objects = 1000;
    const reliability::process_usage before = reliability::usage_of(service);
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    int refused = 0, other = 0;
    HRESULT first_other = S_OK;
    for (int i = 0; i < objects; ++i) {
        // The object's own IDispatch (the one the logon events are asked through), not the
        // dispatch part of the call_function interface.
        const auto connection = connect();
        com_ptr<IDispatch> object;
        if (!connection || FAILED(connection->QueryInterface(IID_IDispatch, object.put_void()))) {
            ++other;
            continue;
        }
        const HRESULT hr = dispatch_by_name::call(object.get(), L"DisplayLock", system.get());
        if (hr == E_ACCESSDENIED) {
            ++refused;
        } else if (other++ == 0) {
            first_other = hr;
        }
    }
    Sleep(200);  // the last releases reach the service
    const reliability::process_usage after = reliability::usage_of(service);
    std::printf("\n%d DisplayLock calls from a client, each on a new object: %d refused, %d otherwise (first 0x%08lX)\n",
                objects, refused, other, static_cast<unsigned long>(first_other));
    std::printf("  service handles before %lu, after %lu\n", static_cast<unsigned long>(before.handles),
                static_cast<unsigned long>(after.handles));
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        registered_service service(tracing::off);
        reliability::recorded_agent_guid agent;
        if (!service.ready() || !agent.ready()) {
            std::printf("the service cannot be registered in this prefix\n");
            return 1;
        }

        std::printf("start request -> start event, stop request -> SERVICE_STOPPED:\n");
        for (int cycle = 0; cycle < 5; ++cycle) {
            const start_stop times = time_start_and_stop();
            std::printf("  cycle %d: start %7.1f ms  stop %7.1f ms\n", cycle + 1, times.start_ms, times.stop_ms);
        }

        if (!start_service() || !wait_for_start_event(30000)) {
            std::printf("the service does not start\n");
            return 1;
        }
        const auto dispatcher = connect();
        if (!dispatcher) {
            std::printf("no connection to the service\n");
            return 1;
        }
        time_calls(dispatcher.get());
        forged_display_locks(service_process_id());
    }
    CoUninitialize();
    return 0;
}
