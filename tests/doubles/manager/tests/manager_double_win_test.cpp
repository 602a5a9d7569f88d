// The manager double through real COM, with real KV_event objects as the service passes them.
#include "tests/doubles/manager/manager_double_win.h"

#include <gtest/gtest.h>

#include <string>

#include "dispatcher/manager_interface_win.h"
#include "foundation/com_resource_win.h"
#include "foundation/kv_named_objects_win.h"

namespace {

struct com_apartment {
    com_apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~com_apartment() { CoUninitialize(); }
};

template <typename Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) Sleep(10);
    return condition();
}

class ManagerDouble : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(manager_double::register_double(), S_OK);
        ASSERT_TRUE(manager_double::reset());
        ASSERT_EQ(CoCreateInstance(CLSID_RX_manager_component, nullptr, CLSCTX_INPROC_SERVER, IID_RX_manager_i,
                                   manager.put_void()),
                  S_OK);
    }
    void TearDown() override { manager_double::reset(); }

    com_apartment apartment;
    com_ptr<RX_manager_i> manager;
    // Unnamed manual-reset events, as the service makes them.
    KV_event stop{nullptr, false, true};
    KV_event done{nullptr, false, true};
};

TEST_F(ManagerDouble, StopThreadSetsDoneThroughTheEventTablesAndOutlivesTheObject) {
    FILETIME before{};
    GetSystemTimeAsFileTime(&before);
    ASSERT_EQ(manager->start_manager(1, &stop, &done), S_OK);
    manager_double::state recorded = manager_double::read_state();
    EXPECT_EQ(recorded.mode, 1u);
    EXPECT_EQ(recorded.start_count, 1u);
    EXPECT_FALSE(done.wait(200)) << "done before stop";

    // The thread keeps the DLL even when COM would free it.
    manager.reset();
    CoFreeUnusedLibrariesEx(0, 0);
    ASSERT_TRUE(stop.set_event());
    EXPECT_TRUE(done.wait(10000));
    recorded = manager_double::read_state();
    EXPECT_EQ(recorded.stop_count, 1u);
    EXPECT_EQ(recorded.done_count, 1u);
    ASSERT_TRUE(recorded.done_time);
    EXPECT_GE(*recorded.done_time, (std::uint64_t{before.dwHighDateTime} << 32) | before.dwLowDateTime);
}

TEST_F(ManagerDouble, StartFailureSwitchFailsTheStartAndStartsNothing) {
    constexpr HRESULT refused = static_cast<HRESULT>(0x80040D02);
    ASSERT_TRUE(manager_double::set_start_failure(refused));
    EXPECT_EQ(manager->start_manager(7, &stop, &done), refused);
    ASSERT_TRUE(stop.set_event());
    EXPECT_FALSE(done.wait(300));
    const manager_double::state recorded = manager_double::read_state();
    EXPECT_EQ(recorded.mode, 7u);
    EXPECT_EQ(recorded.start_count, 1u);
    EXPECT_EQ(recorded.stop_count, 0u);
}

TEST_F(ManagerDouble, ForwardCallBehavesAsItsNameAsks) {
    const wchar_t* envelope = L"\xFEFF<call><function name=\"x\"/></call>";
    struct row { const wchar_t* name; HRESULT status; bool echoes; };
    const row rows[] = {
        {manager_double::echo, S_OK, true},
        {manager_double::s_false, S_FALSE, true},
        {manager_double::no_result, S_OK, false},
        {manager_double::fail, manager_double::failure_status, true},
        {L"anything_else", S_OK, true},
    };
    for (const row& r : rows) {
        unique_bstr result;
        EXPECT_EQ(manager->forward_call(r.name, envelope, result.put()), r.status) << r.name;
        if (r.echoes) {
            ASSERT_TRUE(result) << r.name;
            EXPECT_STREQ(result.get(), envelope);
        } else {
            EXPECT_FALSE(result) << r.name;
        }
        EXPECT_EQ(manager_double::read_state().last_call, std::wstring(r.name));
    }
    EXPECT_EQ(manager_double::read_state().call_count, std::size(rows));

    unique_bstr quiet;
    EXPECT_EQ(manager->forward_call(manager_double::quiet_echo, envelope, quiet.put()), S_OK);
    ASSERT_TRUE(quiet);
    EXPECT_STREQ(quiet.get(), envelope);
    EXPECT_EQ(manager_double::read_state().call_count, std::size(rows)) << "the quiet echo records nothing";
    EXPECT_EQ(manager_double::read_state().last_call, std::wstring(L"anything_else"));
}

TEST_F(ManagerDouble, NeverDoneKeepsTheDoneEventUnset) {
    ASSERT_EQ(manager->start_manager(1, &stop, &done), S_OK);
    unique_bstr result;
    EXPECT_EQ(manager->forward_call(manager_double::never_done, L"e", result.put()), S_OK);
    ASSERT_TRUE(stop.set_event());
    EXPECT_TRUE(eventually([] { return manager_double::read_state().stop_count == 1; }));
    EXPECT_FALSE(done.wait(300));
    EXPECT_EQ(manager_double::read_state().done_count, 0u);
}

}  // namespace
