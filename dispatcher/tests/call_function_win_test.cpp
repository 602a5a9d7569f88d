// call_function end to end through an object of the class: its failure table, the quit
// token and the routing rule. The trace file tells which step refused a call.
#include <gtest/gtest.h>

#include "dispatcher/dispatcher_state_win.h"
#include "dispatcher/manager_component_win.h"
#include "dispatcher/tests/dispatcher_support_win.h"
#include "foundation/tests/trace_capture_win.h"

#include <algorithm>

namespace {
using namespace dispatcher_test;

constexpr wchar_t call_scope[] = L"RX_core_service_disp::call_function";

bool traced(const std::wstring& name, const std::wstring& text) {
    const auto lines = trace_messages(name);
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

class CallFunction : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(capture_.ready());
        dispatcher_ = new_dispatcher();
        ASSERT_TRUE(dispatcher_);
        release_manager();  // forwarded calls fail with E_FAIL: no manager was tried
    }
    main_thread_apartment apartment_;
    trace_test::trace_capture capture_;
    com_ptr<RX_core_service_disp_i> dispatcher_;
};

TEST_F(CallFunction, RefusalsReportTheFailingStepAndLeaveRetAlone) {
    const struct {
        const char* what;
        std::wstring envelope;
        bool from_main_thread;
        const wchar_t* trace;
        HRESULT ret_code;
    } rows[] = {
        {"call before the main thread is known", L"<function name=\"core_x\"/>", false,
         L"Exit call due to thread mismatch!", E_FAIL},
        {"text that is not well-formed", L"<function name=\"x\">", true,
         L"Exit call, unable to interpret XML document!", E_INVALIDARG},
        {"no function element", L"<call name=\"core_x\"/>", true,
         L"Exit call, XML document contained no function!", E_INVALIDARG},
        {"function below the top level", L"<call><function name=\"core_x\"/></call>", true,
         L"Exit call, XML document contained no function!", E_INVALIDARG},
        {"quit token with blanks is text", L" {5A7C3E21-9B04-4F6D-A2C8-71E0D94B3F65} ", true,
         L"Exit call, XML document contained no function!", E_INVALIDARG},
        {"core command refused by its executor", L"<function name=\"core_x\"/>", true,
         L"Call returned error code!", E_INVALIDARG},
        {"forwarded call without a manager", L"<function name=\"x\"/>", true,
         L"Call returned error code!", E_FAIL},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(trace_test::delete_trace_file());
        set_main_thread_id(row.from_main_thread ? ::GetCurrentThreadId() : 0);
        const call_outcome outcome = call(dispatcher_.get(), row.envelope);
        EXPECT_EQ(outcome.returned, S_FALSE);
        EXPECT_EQ(outcome.ret_code, row.ret_code);
        EXPECT_FALSE(outcome.ret_written);
        EXPECT_TRUE(traced(call_scope, row.trace));
    }
}

TEST_F(CallFunction, NullArgumentIsRefused) {
    BSTR ret = untouched;
    LONG ret_code = 0;
    EXPECT_EQ(dispatcher_->call_function(nullptr, &ret, &ret_code), S_FALSE);
    EXPECT_EQ(ret_code, E_INVALIDARG);
    EXPECT_EQ(ret, untouched);
    EXPECT_TRUE(traced(call_scope, L"Call with a NULL argument!"));
}

TEST_F(CallFunction, QuitTokenInAnyLetterCaseIsAcceptedAndOnlyRecorded) {
    const call_outcome outcome = call(dispatcher_.get(), L"{5a7c3e21-9b04-4f6d-a2c8-71e0d94b3f65}");
    EXPECT_EQ(outcome.returned, S_OK);
    EXPECT_EQ(outcome.ret_code, S_OK);
    EXPECT_FALSE(outcome.ret_written);
    EXPECT_TRUE(quit_requested());
    EXPECT_TRUE(traced(call_scope, L"Got quit message, exiting!"));
    // Nothing acts on it: the next call is served as usual.
    EXPECT_EQ(call(dispatcher_.get(), L"<function name=\"core_x\"/>").ret_code, E_INVALIDARG);
}

// Core calls are refused by the core executor with E_INVALIDARG ("Unknown command!"),
// forwarded ones by the absent manager with E_FAIL: the status shows the route.
TEST_F(CallFunction, RoutesByTheCaseSensitiveCoreMarkerAnywhereInTheName) {
    const struct { const wchar_t* envelope; bool core; } rows[] = {
        {L"<function name=\"core_x\"/>", true},
        {L"<function name=\"has_core_in_the_middle\"/>", true},
        {L"<FUNCTION NAME=\"x_core_\"/>", true},
        {L"<?xml version=\"1.0\"?><other/><Function Name=\"core_\" /><function name=\"y\"/>", true},
        {L"<function name=\"Core_x\"/>", false},
        {L"<function name=\"CORE_x\"/>", false},
        {L"<function name=\"\"/>", false},
        {L"<function/>", false},
        {L"<function name=\"core\"/>", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::string(row.envelope, row.envelope + wcslen(row.envelope)));
        const call_outcome outcome = call(dispatcher_.get(), row.envelope);
        EXPECT_EQ(outcome.returned, S_FALSE);
        EXPECT_EQ(outcome.ret_code, row.core ? E_INVALIDARG : E_FAIL);
    }
}

}  // namespace
