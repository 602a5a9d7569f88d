// Calls forwarded to the manager component (its double), and the manager's absence.
#include <gtest/gtest.h>

#include "dispatcher/manager_component_win.h"
#include "dispatcher/tests/dispatcher_support_win.h"
#include "foundation/kv_named_objects_win.h"
#include "tests/doubles/common/com_double_locations_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "xml/kv_xml.h"

namespace {
using namespace dispatcher_test;

std::wstring reserialized(const wchar_t* envelope) {
    kv_xml_document document(create_xml_document());
    document->load_from_string(envelope);
    const kv_xml_string text(document->to_string());
    return text.get();
}

class ManagerRouting : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(manager_double::register_double(), S_OK);
        ASSERT_TRUE(manager_double::reset());
        dispatcher_ = new_dispatcher();
    }
    void TearDown() override {
        stop_.set_event();
        release_manager();
        manager_double::clear_start_failure();
        manager_double::register_double();
    }
    main_thread_apartment apartment_;
    KV_event stop_{nullptr, false, true};
    KV_event done_{nullptr, false, true};
    com_ptr<RX_core_service_disp_i> dispatcher_;
};

TEST_F(ManagerRouting, ManagerStatusAndResultPassThrough) {
    ASSERT_EQ(create_manager(), S_OK);
    ASSERT_EQ(start_manager(&stop_, &done_), S_OK);
    EXPECT_EQ(manager_double::read_state().mode, 1u);
    const struct {
        const wchar_t* envelope;
        HRESULT returned, ret_code;
        bool ret_written, has_result;
    } rows[] = {
        {L"<function name=\"manager_echo\"><arg a='1'>x &amp; y</arg></function>", S_OK, S_OK, true, true},
        {L"<Function Name=\"manager_s_false\"/>", S_OK, S_FALSE, true, true},
        {L"<function name=\"manager_no_result\"/>", S_OK, S_OK, true, false},
        {L"<function name=\"manager_fail\"/>", S_FALSE, manager_double::failure_status, false, false},
        {L"<function/>", S_OK, S_OK, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::string(row.envelope, row.envelope + wcslen(row.envelope)));
        const call_outcome outcome = call(dispatcher_.get(), row.envelope);
        EXPECT_EQ(outcome.returned, row.returned);
        EXPECT_EQ(outcome.ret_code, row.ret_code);
        EXPECT_EQ(outcome.ret_written, row.ret_written);
        EXPECT_EQ(outcome.has_result, row.has_result);
        // The executor gets the re-serialized envelope, not the client's text.
        if (row.has_result) {
            EXPECT_EQ(outcome.result, reserialized(row.envelope));
        }
    }
    EXPECT_EQ(reserialized(L"<f/>")[0], 0xFEFF);
    EXPECT_EQ(manager_double::read_state().last_call, L"");
}

TEST_F(ManagerRouting, CallsFailWithoutAManagerAndReachOneThatFailedToStart) {
    ASSERT_EQ(doubles::unregister_double(doubles::manager_double_dll), S_OK);
    const HRESULT created = create_manager();
    EXPECT_EQ(created, REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(manager_created());
    call_outcome outcome = call(dispatcher_.get(), L"<function name=\"x\"/>");
    EXPECT_EQ(outcome.returned, S_FALSE);
    EXPECT_EQ(outcome.ret_code, created);

    // A component that reported a failed start is kept and still gets the calls.
    ASSERT_EQ(manager_double::register_double(), S_OK);
    ASSERT_TRUE(manager_double::set_start_failure(E_ACCESSDENIED));
    ASSERT_EQ(create_manager(), S_OK);
    EXPECT_EQ(start_manager(&stop_, &done_), E_ACCESSDENIED);
    EXPECT_TRUE(manager_created());
    outcome = call(dispatcher_.get(), L"<function name=\"x\"/>");
    EXPECT_EQ(outcome.returned, S_OK);
    EXPECT_EQ(outcome.ret_code, S_OK);
    EXPECT_EQ(manager_double::read_state().call_count, 1u);
    EXPECT_EQ(manager_double::read_state().last_call, L"x");
}

}  // namespace
