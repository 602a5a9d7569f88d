#include "tests/doubles/event_system/dll/delivery_win.h"

#include <oleauto.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/com_resource_win.h"
#include "tests/doubles/common/inproc_server_win.h"
#include "tests/doubles/event_system/dll/subscription_store_win.h"
#include "tests/doubles/event_system/event_system_ids_win.h"
#include "tests/doubles/event_system/event_system_protocol_win.h"

namespace event_system_double {
namespace {

constexpr UINT deliver_message = WM_APP + 0x4B;
constexpr const wchar_t* window_class = L"KvEventSystemDoubleDelivery";

// One handler call handed from the pipe thread to a storing thread. Shared, so that a
// delivery the pipe thread gave up waiting for can still finish safely.
struct delivery {
    DWORD sequence = 0;
    std::wstring method;
    std::optional<std::wstring> user;
    unique_handle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // Written by the storing thread before `done` is set.
    HRESULT status = E_FAIL;
    bool invoked = false;
};

// Calls `method` by name on the subscriber's ISensLogon dispatch part (or its IDispatch).
void invoke_subscriber(IUnknown* subscriber, delivery& call) {
    com_ptr<IDispatch> dispatch;
    call.status = subscriber->QueryInterface(event_system_double::ids::sens_logon, dispatch.put_void());
    if (FAILED(call.status)) call.status = subscriber->QueryInterface(IID_IDispatch, dispatch.put_void());
    if (FAILED(call.status)) return;

    std::wstring name = call.method;
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    call.status = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (FAILED(call.status)) return;

    unique_bstr user;
    if (call.user) {
        user.reset(SysAllocStringLen(call.user->data(), static_cast<UINT>(call.user->size())));
        if (!user) {
            call.status = E_OUTOFMEMORY;
            return;
        }
    }
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = user.get();
    DISPPARAMS parameters{&argument, nullptr, 1, 0};
    unique_variant result;
    EXCEPINFO exception{};
    UINT argument_error = 0;
    call.invoked = true;
    call.status = dispatch->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &parameters, result.get(),
                                   &exception, &argument_error);
    if (call.status == DISP_E_EXCEPTION) {  // the handler's own failure travels in the exception
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        if (FAILED(exception.scode)) call.status = exception.scode;
    }
    // The texts the handler may have put into the exception are ours to free.
    const unique_bstr source(exception.bstrSource), description(exception.bstrDescription),
        help_file(exception.bstrHelpFile);
}

LRESULT CALLBACK delivery_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != deliver_message) return DefWindowProcW(window, message, wparam, lparam);
    const std::unique_ptr<std::shared_ptr<delivery>> handed(reinterpret_cast<std::shared_ptr<delivery>*>(lparam));
    delivery& call = **handed;
    if (const com_ptr<IUnknown> subscriber = subscriber_of(call.sequence))
        invoke_subscriber(subscriber.get(), call);
    else
        call.status = RPC_E_DISCONNECTED;  // removed since the firing began
    SetEvent(call.done.get());
    return 0;
}

bool window_class_registered() {
    static const ATOM atom = [] {
        WNDCLASSEXW description{};
        description.cbSize = sizeof description;
        description.lpfnWndProc = delivery_window_procedure;
        description.hInstance = doubles::inproc::module();
        description.lpszClassName = window_class;
        return RegisterClassExW(&description);
    }();
    return atom != 0;
}

struct delivery_outcome {
    HRESULT status;
    bool invoked;
};

delivery_outcome deliver_one(const delivery_target& target, const std::wstring& method,
                             const std::optional<std::wstring>& user) {
    auto call = std::make_shared<delivery>();
    if (!call->done) return {HRESULT_FROM_WIN32(GetLastError()), false};
    call->sequence = target.sequence;
    call->method = method;
    call->user = user;
    auto handed = std::make_unique<std::shared_ptr<delivery>>(call);
    if (!PostMessageW(target.window, deliver_message, 0, reinterpret_cast<LPARAM>(handed.get())))
        return {HRESULT_FROM_WIN32(GetLastError()), false};
    handed.release();  // the storing thread's window procedure owns it now
    if (WaitForSingleObject(call->done.get(), protocol::delivery_timeout_ms) != WAIT_OBJECT_0)
        return {HRESULT_FROM_WIN32(ERROR_TIMEOUT), false};
    return {call->status, call->invoked};
}

protocol::fire_reply fire_here(const std::wstring& method, const std::optional<std::wstring>& user) {
    const std::vector<delivery_target> targets = targets_of(method);
    if (targets.empty()) return {EVENT_S_NOSUBSCRIBERS, 0};
    protocol::fire_reply reply{S_OK, 0};
    for (const delivery_target& target : targets) {
        const delivery_outcome outcome = deliver_one(target, method, user);
        if (outcome.invoked) ++reply.delivered;
        if (SUCCEEDED(reply.status)) reply.status = outcome.status;
    }
    return reply;
}

// One request on a connected pipe: read, fire, answer.
void serve(HANDLE pipe) {
    std::vector<BYTE> request(protocol::max_request_bytes);
    DWORD got = 0;
    protocol::fire_reply reply{E_INVALIDARG, 0};
    protocol::fire_request_header header{};
    if (ReadFile(pipe, request.data(), static_cast<DWORD>(request.size()), &got, nullptr) && got >= sizeof header) {
        memcpy(&header, request.data(), sizeof header);
        const std::uint64_t expected =
            sizeof header + (std::uint64_t{header.method_units} + header.user_units) * sizeof(wchar_t);
        if (expected == got) {
            const auto* units = reinterpret_cast<const wchar_t*>(request.data() + sizeof header);
            const std::wstring method(units, header.method_units);
            std::optional<std::wstring> user;
            if (header.user_present) user.emplace(units + header.method_units, header.user_units);
            reply = fire_here(method, user);
        }
    }
    DWORD written = 0;
    WriteFile(pipe, &reply, sizeof reply, &written, nullptr);
    FlushFileBuffers(pipe);
}

// Serves the fire requests on the pipe it is given, for the process's lifetime.
DWORD WINAPI fire_server(void* parameter) {
    const unique_file pipe(static_cast<HANDLE>(parameter));
    for (;;) {
        if (ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED)
            serve(pipe.get());
        else
            Sleep(10);  // a client that left before being served
        DisconnectNamedPipe(pipe.get());
    }
}

}  // namespace

HWND create_delivery_window() {
    if (!window_class_registered()) return nullptr;
    return CreateWindowExW(0, window_class, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, doubles::inproc::module(),
                           nullptr);
}

void close_delivery_window(HWND window, DWORD owner_thread) {
    if (owner_thread == GetCurrentThreadId())
        DestroyWindow(window);
    else
        PostMessageW(window, WM_CLOSE, 0, 0);
}

// The pipe exists once this returns: a test that fires right after the first Store
// finds it, however late the server thread gets to run.
void start_fire_server() {
    static std::once_flag started;
    std::call_once(started, [] {
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&fire_server), &pinned);
        const std::wstring name = protocol::pipe_name(GetCurrentProcessId());
        unique_file pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                          sizeof(protocol::fire_reply), protocol::max_request_bytes, 0, nullptr));
        if (!pipe) return;
        const unique_handle thread(CreateThread(nullptr, 0, fire_server, pipe.get(), 0, nullptr));
        if (thread) pipe.release();  // the server thread owns it now
    });
}

}  // namespace event_system_double
