// The event system double's own rules, through real COM: property round trips, Store's
// replacement and program id, and the queries Remove accepts.
#include "tests/doubles/event_system/event_system_double_win.h"

#include <eventsys.h>
#include <gtest/gtest.h>

#include "foundation/com_resource_win.h"
#include "tests/doubles/event_system/event_system_ids_win.h"

namespace {
namespace ids = event_system_double::ids;

constexpr const wchar_t* stored_id = L"{B012505F-A6B5-48bb-862F-939B59AA18E3}";

struct apartment {
    apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~apartment() { CoUninitialize(); }
};

class EventSystemDouble : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(event_system_double::register_double(), S_OK);
        ASSERT_TRUE(event_system_double::reset());
        ASSERT_EQ(CoCreateInstance(ids::event_system_class, nullptr, CLSCTX_INPROC_SERVER, ids::event_system,
                                   event_system.put_void()),
                  S_OK);
    }
    void TearDown() override { event_system_double::reset(); }

    com_ptr<IEventSubscription> subscription(const wchar_t* id, const wchar_t* method) {
        com_ptr<IEventSubscription> made;
        EXPECT_EQ(CoCreateInstance(ids::event_subscription_class, nullptr, CLSCTX_INPROC_SERVER, ids::event_subscription,
                                   made.put_void()),
                  S_OK);
        if (!made) return made;
        EXPECT_EQ(made->put_SubscriptionID(unique_bstr(SysAllocString(id)).get()), S_OK);
        EXPECT_EQ(made->put_MethodName(unique_bstr(SysAllocString(method)).get()), S_OK);
        return made;
    }
    HRESULT store(IEventSubscription* made, const wchar_t* prog_id = ids::subscription_prog_id) {
        return event_system->Store(unique_bstr(SysAllocString(prog_id)).get(), made);
    }

    apartment com;
    com_ptr<IEventSystem> event_system;
};

TEST_F(EventSystemDouble, PropertiesReadBackAndStoreReplacesTheSameId) {
    const com_ptr<IEventSubscription> first = subscription(stored_id, L"DisplayLock");
    ASSERT_TRUE(first);
    unique_bstr method;
    ASSERT_EQ(first->get_MethodName(method.put()), S_OK);
    EXPECT_STREQ(method.get(), L"DisplayLock");
    EXPECT_EQ(store(first.get(), L"EventSystem.EventClass"), E_INVALIDARG);
    EXPECT_EQ(store(first.get()), S_OK);
    EXPECT_EQ(store(subscription(stored_id, L"Logon").get()), S_OK);

    const auto records = event_system_double::stored_subscriptions();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].method, L"Logon");
    EXPECT_FALSE(records[0].has_subscriber);
    EXPECT_EQ(records[0].process_id, GetCurrentProcessId());
    EXPECT_EQ(event_system_double::store_count(), 2u);
}

TEST_F(EventSystemDouble, RemoveAcceptsOnlySubscriptionIdQueries) {
    struct row { const wchar_t* query; HRESULT status; int error_index; };
    const row rows[] = {
        {L"SubscriptionID={B012505F-A6B5-48bb-862F-939B59AA18E3}", S_OK, 0},
        {L" SubscriptionID == '{b012505f-a6b5-48BB-862f-939b59aa18e3}' ", S_OK, 0},
        {L"SubscriptionID=\"{B012505F-A6B5-48bb-862F-939B59AA18E3}\"", S_OK, 0},
        {L"SubscriptionID={7B871E2F-BF93-4458-8AEF-C8D6B6F77CFF}", S_FALSE, 0},
        {L"MethodName=DisplayLock", EVENT_E_QUERYSYNTAX, 0},
        {L"SubscriptionID {B012505F-A6B5-48bb-862F-939B59AA18E3}", EVENT_E_QUERYSYNTAX, 15},
        {L"SubscriptionID='{B012505F-A6B5-48bb-862F-939B59AA18E3}", EVENT_E_QUERYSYNTAX, 16},
        {L"SubscriptionID=", EVENT_E_QUERYSYNTAX, 15},
    };
    for (const row& r : rows) {
        ASSERT_TRUE(event_system_double::reset());
        ASSERT_EQ(store(subscription(stored_id, L"DisplayLock").get()), S_OK);
        int error_index = -1;
        EXPECT_EQ(event_system->Remove(unique_bstr(SysAllocString(ids::subscription_prog_id)).get(),
                                       unique_bstr(SysAllocString(r.query)).get(), &error_index),
                  r.status)
            << testing::PrintToString(std::wstring(r.query));
        EXPECT_EQ(error_index, r.error_index);
        EXPECT_EQ(event_system_double::stored_subscriptions().size(), r.status == S_OK ? 0u : 1u);
        EXPECT_EQ(event_system_double::remove_queries(), std::vector<std::wstring>{r.query});
    }
}

}  // namespace
