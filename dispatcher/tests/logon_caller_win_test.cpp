// Logon events make the service act only for the system's event delivery: callers of
// every kind through the identity seam, the in-process delivery of the event system
// double, and real calls from another process through COM's marshaling.
#include <gtest/gtest.h>

#include <eventsys.h>
#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

#include "dispatcher/logon_caller_seam_win.h"
#include "dispatcher/rx_core_service_disp_win.h"
#include "dispatcher/tests/dispatcher_support_win.h"
#include "foundation/tests/trace_capture_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/doubles/event_system/event_system_ids_win.h"
#include "tests/doubles/vault_driver_double_win.h"
#include "tests/support/child_process_win.h"
#include "tests/support/dispatch_by_name_win.h"
#include "tests/support/message_pump_win.h"
#include "tests/support/test_files_win.h"

extern "C" const IID IID_ISensLogon;

namespace {
using namespace dispatcher_test;
namespace events = event_system_double;

std::wstring event_name(const wchar_t* notification) {
    return std::wstring(L"{DB186164-5C92-42ad-A10E-D342FABB7EC6}[S-1-5-18](") + notification + L")";
}

// The seven handlers, their names and the notification each signals (none for StartShell).
struct handler_row {
    HRESULT (STDMETHODCALLTYPE ISensLogon::*handler)(BSTR);
    const wchar_t* method;
    const wchar_t* notification;
    HRESULT acted;  // the result when the handler acts
};
const handler_row handlers[] = {
    {&ISensLogon::Logon, L"Logon", L"user_logon", S_OK},
    {&ISensLogon::Logoff, L"Logoff", L"user_logoff", S_OK},
    {&ISensLogon::StartShell, L"StartShell", nullptr, E_NOTIMPL},
    {&ISensLogon::DisplayLock, L"DisplayLock", L"screen_lock", S_OK},
    {&ISensLogon::DisplayUnlock, L"DisplayUnlock", L"screen_unlock", S_OK},
    {&ISensLogon::StartScreenSaver, L"StartScreenSaver", L"screen_saver_activated", S_OK},
    {&ISensLogon::StopScreenSaver, L"StopScreenSaver", L"screen_saver_deactivated", S_OK},
};

// Listeners of SYSTEM's six notifications, opened before the calls.
struct listeners {
    std::vector<std::unique_ptr<KV_event>> events;
    listeners() {
        for (const handler_row& row : handlers)
            events.push_back(row.notification ? std::make_unique<KV_event>(event_name(row.notification).c_str(), true, false)
                                              : nullptr);
    }
    bool signalled(std::size_t row) { return events[row] && events[row]->wait(0); }
};

bool driver_ready() { return vault_double::start() && vault_double::script({}) && vault_double::clear_requests(); }

using message_pump::wait_for;

class LogonCaller : public ::testing::Test {
protected:
    void SetUp() override {
        dispatcher_ = new_dispatcher();
        ASSERT_TRUE(dispatcher_);
        ASSERT_EQ(dispatcher_->QueryInterface(IID_ISensLogon, logon_.put_void()), S_OK);
    }
    void TearDown() override { set_logon_caller_source(nullptr); }

    // The trace messages of a handler that mention a refusal.
    std::size_t refusals(const wchar_t* method) {
        std::size_t found = 0;
        for (const std::wstring& text : trace_messages(std::wstring(L"RX_core_service_disp::") + method))
            if (text.rfind(L"Call refused", 0) == 0) ++found;
        return found;
    }

    main_thread_apartment apartment_;
    com_ptr<RX_core_service_disp_i> dispatcher_;
    com_ptr<ISensLogon> logon_;
};

// The identity the seam reports for the current row.
logon_caller supplied;
logon_caller supplied_caller(bool) { return supplied; }

TEST_F(LogonCaller, OnlyTheProcessItselfAndTheEventServiceAccountsMakeTheHandlersAct) {
    using origin = logon_caller::origin;
    const struct {
        logon_caller caller;
        bool acts;
    } rows[] = {
        {{origin::in_process, L""}, true},
        {{origin::account, L"S-1-5-18"}, true},             // LocalSystem
        {{origin::account, L"S-1-5-19"}, true},             // LocalService
        {{origin::account, L"S-1-5-20"}, true},             // NetworkService
        {{origin::account, L"S-1-5-21-0-0-0-1000"}, false}, // a plain user
        {{origin::account, L"S-1-5-32-544"}, false},        // the administrators' group
        {{origin::account, L"S-1-5-18-1"}, false},
        {{origin::account, L"s-1-5-18 "}, false},
        {{origin::account, L""}, false},
        {{origin::unknown, L""}, false},                    // no identity established
    };
    set_logon_caller_source(supplied_caller);
    ASSERT_TRUE(driver_ready());
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    for (const auto& row : rows) {
        const std::wstring label = row.caller.account_sid + (row.acts ? L" acts" : L" refused");
        supplied = row.caller;
        ASSERT_TRUE(vault_double::clear_requests());
        const trace_test::trace_capture capture;
        ASSERT_TRUE(capture.ready());
        listeners listening;
        for (std::size_t i = 0; i < std::size(handlers); ++i) {
            const handler_row& handler = handlers[i];
            EXPECT_EQ((logon_.get()->*handler.handler)(system.get()), row.acts ? handler.acted : E_ACCESSDENIED)
                << handler.method << " " << testing::PrintToString(label);
            EXPECT_EQ(listening.signalled(i), row.acts && handler.notification != nullptr) << handler.method;
            EXPECT_EQ(refusals(handler.method), row.acts ? 0u : 1u) << handler.method;
        }
        EXPECT_EQ(vault_double::requests().size(), row.acts ? 2u : 0u) << "the driver told to forget SYSTEM";
    }
    vault_double::clear_requests();
}

TEST_F(LogonCaller, TheRuleOfThePlatformAndOfTheObject) {
    const trace_test::trace_capture capture;
    ASSERT_TRUE(capture.ready());
    // A direct call, no COM call context: the process itself, while the object is its own.
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    EXPECT_EQ(current_logon_caller(false).from, logon_caller::origin::in_process);
    EXPECT_EQ(current_logon_caller(true).from, logon_caller::origin::unknown);
    EXPECT_EQ(logon_->DisplayLock(system.get()), S_OK);

    // An aggregated object cannot know who was given its outer object.
    struct outer_object : IUnknown {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
    } outer;
    com_ptr<IUnknown> inner;
    ASSERT_EQ(RX_core_service_disp::create(&outer, IID_IUnknown, inner.put_void()), S_OK);
    ISensLogon* aggregated = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_ISensLogon, reinterpret_cast<void**>(&aggregated)), S_OK);
    EXPECT_EQ(aggregated->DisplayLock(system.get()), E_ACCESSDENIED);
    EXPECT_EQ(refusals(L"DisplayLock"), 1u);
}

// The event system double in this process, with subscriptions of one dispatcher object.
class subscribed_dispatcher {
public:
    explicit subscribed_dispatcher(IUnknown* subscriber) {
        if (events::register_double() != S_OK || !events::reset()) return;
        if (FAILED(CoCreateInstance(events::ids::event_system_class, nullptr, CLSCTX_SERVER, events::ids::event_system,
                                    event_system_.put_void())))
            return;
        for (const wchar_t* method : {L"DisplayLock", L"Logoff"}) {
            com_ptr<IEventSubscription> subscription;
            const std::wstring id = std::wstring(L"{kv-logon-caller-") + method + L"}";
            const unique_bstr id_text(SysAllocString(id.c_str())), method_text(SysAllocString(method)),
                prog_id(SysAllocString(events::ids::subscription_prog_id));
            if (FAILED(CoCreateInstance(events::ids::event_subscription_class, nullptr, CLSCTX_SERVER,
                                        events::ids::event_subscription, subscription.put_void())) ||
                FAILED(subscription->put_SubscriptionID(id_text.get())) ||
                FAILED(subscription->put_MethodName(method_text.get())) ||
                FAILED(subscription->put_SubscriberInterface(subscriber)) ||
                FAILED(event_system_->Store(prog_id.get(), subscription.get())))
                return;
            ids_.push_back(id);
        }
    }
    ~subscribed_dispatcher() {
        const unique_bstr prog_id(SysAllocString(events::ids::subscription_prog_id));
        for (const std::wstring& id : ids_) {
            const unique_bstr query(SysAllocString((L"SubscriptionID=" + id).c_str()));
            int error_index = 0;
            event_system_->Remove(prog_id.get(), query.get(), &error_index);
        }
        events::reset();
    }
    bool ready() const { return ids_.size() == 2; }

    // Fires from a worker thread while this thread serves the delivery, as the service's
    // message loop does.
    events::fire_result fire(const wchar_t* method) {
        struct job {
            const wchar_t* method;
            events::fire_result result{E_FAIL, 0};
        } work{method};
        const unique_handle worker(CreateThread(
            nullptr, 0,
            [](void* parameter) -> DWORD {
                auto* w = static_cast<job*>(parameter);
                w->result = events::fire(w->method, L"SYSTEM");
                return 0;
            },
            &work, 0, nullptr));
        if (!worker || wait_for(worker.get()) != WAIT_OBJECT_0) return {E_FAIL, 0};
        return work.result;
    }

private:
    com_ptr<IEventSystem> event_system_;
    std::vector<std::wstring> ids_;
};

TEST_F(LogonCaller, TheEventSystemsInProcessDeliveryActs) {
    const trace_test::trace_capture capture;
    ASSERT_TRUE(capture.ready());
    ASSERT_TRUE(driver_ready());
    subscribed_dispatcher subscribed(dispatcher_.get());
    ASSERT_TRUE(subscribed.ready());
    KV_event locked(event_name(L"screen_lock").c_str(), true, false);
    KV_event logged_off(event_name(L"user_logoff").c_str(), true, false);

    const events::fire_result lock = subscribed.fire(L"DisplayLock");
    EXPECT_EQ(lock.status, S_OK);
    EXPECT_EQ(lock.delivered, 1u);
    EXPECT_TRUE(locked.wait(0));
    const events::fire_result logoff = subscribed.fire(L"Logoff");
    EXPECT_EQ(logoff.status, S_OK);
    EXPECT_TRUE(logged_off.wait(0));
    EXPECT_EQ(vault_double::requests().size(), 2u);
    EXPECT_EQ(refusals(L"DisplayLock") + refusals(L"Logoff"), 0u);
    vault_double::clear_requests();
}

// ISensLogon marshaled as the platform registers it: its interface key names the type
// library marshaler and the SENS events library (registered from the doubles' build).
class sens_logon_marshaling {
public:
    sens_logon_marshaling() {
        ready_ = register_sens_type_library() && set(L"", L"ISensLogon") &&
                 set(L"\\ProxyStubClsid32", L"{00020424-0000-0000-C000-000000000046}") &&
                 set(L"\\TypeLib", L"{D597DEED-5B9F-11D1-8DD2-00AA004ABD5E}") &&
                 RegSetKeyValueW(HKEY_CLASSES_ROOT, (key + L"\\TypeLib").c_str(), L"Version", REG_SZ, L"2.0",
                                 4 * sizeof(wchar_t)) == ERROR_SUCCESS;
    }
    ~sens_logon_marshaling() { RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str()); }
    bool ready() const { return ready_; }

private:
    bool set(const wchar_t* subkey, const wchar_t* text) {
        return RegSetKeyValueW(HKEY_CLASSES_ROOT, (key + subkey).c_str(), nullptr, REG_SZ, text,
                               static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    const std::wstring key = L"Interface\\{D597BAB3-5B9F-11D1-8DD2-00AA004ABD5E}";
    bool ready_ = false;
};

// The second process, "sens_caller:<object file>|<result file>": unmarshals the object
// and calls the seven methods for SYSTEM, through ISensLogon's table and by name through
// IDispatch, writing the fourteen HRESULTs to the result file.
int sens_caller_role(const std::wstring& argument) {
    const std::size_t bar = argument.find(L'|');
    if (bar == std::wstring::npos) return child_process::fail("no result file");
    const auto reference = test_files::read(argument.substr(0, bar));
    if (!reference) return child_process::fail("no object reference");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::vector<HRESULT> results;
    {
        com_ptr<IStream> stream;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return child_process::fail("no stream");
        ULONG written = 0;
        stream->Write(reference->data(), static_cast<ULONG>(reference->size()), &written);
        stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
        com_ptr<IUnknown> object;
        if (FAILED(CoUnmarshalInterface(stream.get(), IID_IUnknown, object.put_void())))
            return child_process::fail("cannot unmarshal the object");
        com_ptr<ISensLogon> logon;
        com_ptr<IDispatch> dispatch;
        if (FAILED(object->QueryInterface(IID_ISensLogon, logon.put_void())) ||
            FAILED(object->QueryInterface(IID_IDispatch, dispatch.put_void())))
            return child_process::fail("no ISensLogon proxy");
        const unique_bstr system(SysAllocString(L"SYSTEM"));
        for (const handler_row& row : handlers) results.push_back((logon.get()->*row.handler)(system.get()));
        for (const handler_row& row : handlers)
            results.push_back(dispatch_by_name::call(dispatch.get(), row.method, system.get()));
    }
    CoUninitialize();
    bytes out(results.size() * sizeof(HRESULT));
    std::memcpy(out.data(), results.data(), out.size());
    return test_files::write(argument.substr(bar + 1), out) ? 0 : child_process::fail("cannot write the results");
}
const child_process::role sens_caller{L"sens_caller", sens_caller_role};

TEST_F(LogonCaller, CallsFromAnotherProcessAreRefused) {
    const trace_test::trace_capture capture;
    ASSERT_TRUE(capture.ready());
    const sens_logon_marshaling marshaling;
    ASSERT_TRUE(marshaling.ready());
    ASSERT_TRUE(driver_ready());
    listeners listening;

    // The object goes to the other process as COM hands objects to clients.
    com_ptr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    ASSERT_EQ(CoMarshalInterface(stream.get(), IID_IUnknown, dispatcher_.get(), MSHCTX_LOCAL, nullptr,
                                 MSHLFLAGS_NORMAL),
              S_OK);
    HGLOBAL memory = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(stream.get(), &memory), S_OK);
    const auto* start = static_cast<const std::uint8_t*>(GlobalLock(memory));
    const bytes reference(start, start + GlobalSize(memory));
    GlobalUnlock(memory);
    const std::wstring reference_file = test_files::temporary_path(L"logon_caller", L"object.bin");
    const std::wstring result_file = test_files::temporary_path(L"logon_caller", L"results.bin");
    ASSERT_TRUE(test_files::write(reference_file, reference));

    const unique_handle caller = child_process::start(L"sens_caller", reference_file + L"|" + result_file);
    ASSERT_TRUE(caller);
    ASSERT_EQ(wait_for(caller.get()), WAIT_OBJECT_0);
    DWORD exit_code = ~0u;
    GetExitCodeProcess(caller.get(), &exit_code);
    EXPECT_EQ(exit_code, 0u);
    const auto results = test_files::read(result_file);
    DeleteFileW(reference_file.c_str());
    DeleteFileW(result_file.c_str());
    ASSERT_TRUE(results);
    ASSERT_EQ(results->size(), 2 * std::size(handlers) * sizeof(HRESULT));
    std::vector<HRESULT> answered(2 * std::size(handlers));
    std::memcpy(answered.data(), results->data(), results->size());
    for (std::size_t i = 0; i < answered.size(); ++i) {
        const handler_row& row = handlers[i % std::size(handlers)];
        EXPECT_EQ(answered[i], E_ACCESSDENIED) << row.method << (i < std::size(handlers) ? " (table)" : " (by name)");
    }
    for (std::size_t i = 0; i < std::size(handlers); ++i) {
        EXPECT_FALSE(listening.signalled(i)) << handlers[i].method;
        EXPECT_EQ(refusals(handlers[i].method), 2u) << handlers[i].method;
    }
    EXPECT_TRUE(vault_double::requests().empty()) << "no driver request for another process";

    // A handed-out object cannot tell a direct call from another process's any more.
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    EXPECT_EQ(logon_->DisplayLock(system.get()), E_ACCESSDENIED);
    CoDisconnectObject(dispatcher_.get(), 0);
}

}  // namespace
