// The manager contract through the dispatcher, against both builds of the manager double:
// the project compiler's and the platform compiler's ABI (the real component's). Start
// with mode 1, stop and done through the events' tables, and forward_call's result rules,
// misbehaving managers included.
#include <gtest/gtest.h>

#include <objidl.h>

#include <mutex>
#include <set>
#include <string>

#include "dispatcher/manager_component_win.h"
#include "dispatcher/tests/dispatcher_support_win.h"
#include "foundation/kv_named_objects_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "xml/kv_xml.h"

namespace {
using namespace dispatcher_test;

std::wstring reserialized(const std::wstring& envelope) {
    kv_xml_document document(create_xml_document());
    document->load_from_string(envelope.c_str());
    const kv_xml_string text(document->to_string());
    return text.get();
}

// Watches the task allocator (IMallocSpy) for blocks of at least `threshold` bytes: the
// BSTR allocator hands longer texts to the task allocator and frees them there at once,
// so a long result that is freed shows here, and one that leaks stays outstanding.
class long_block_spy final : public IMallocSpy {
public:
    static constexpr SIZE_T threshold = 64 * 1024;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IMallocSpy)) return E_NOINTERFACE;
        *object = static_cast<IMallocSpy*>(this);
        return S_OK;
    }
    // Lives as long as the process: the allocator may keep it while spied blocks are out.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override {
        const std::lock_guard lock(mutex_);
        asked_ = size;
        return size;
    }
    STDMETHODIMP_(void*) PostAlloc(void* block) override {
        const std::lock_guard lock(mutex_);
        if (block && asked_ >= threshold) {
            outstanding_.insert(block);
            ++allocated_;
        }
        return block;
    }
    STDMETHODIMP_(void*) PreFree(void* block, BOOL) override {
        const std::lock_guard lock(mutex_);
        if (outstanding_.erase(block)) ++freed_;
        return block;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** new_block, BOOL) override {
        *new_block = block;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    struct counts {
        int allocated, freed, outstanding;
    };
    counts read() {
        const std::lock_guard lock(mutex_);
        return {allocated_, freed_, static_cast<int>(outstanding_.size())};
    }
    void clear() {
        const std::lock_guard lock(mutex_);
        allocated_ = freed_ = 0;
        outstanding_.clear();
    }

private:
    std::mutex mutex_;
    SIZE_T asked_ = 0;
    std::set<void*> outstanding_;
    int allocated_ = 0;
    int freed_ = 0;
};

long_block_spy& spy() {
    static long_block_spy* const instance = new long_block_spy();
    return *instance;
}

class ManagerContract : public testing::TestWithParam<manager_double::build> {
protected:
    void SetUp() override {
        ASSERT_EQ(manager_double::register_double(GetParam()), S_OK)
            << "cannot register the " << GetParam().label << " build of the manager double (its DLL is built by "
            << "clang++ and lld-link; scripts/install-deps.sh installs clang and lld)";
        ASSERT_TRUE(manager_double::reset());
        dispatcher_ = new_dispatcher();
        ASSERT_EQ(create_manager(), S_OK);
        ASSERT_EQ(start_manager(&stop_, &done_), S_OK);
    }
    void TearDown() override {
        stop_.set_event();
        done_.wait(10000);  // the double's stop thread is done with the events
        release_manager();
        manager_double::reset();
        manager_double::register_double();  // the default build for everyone else
    }
    main_thread_apartment apartment_;
    KV_event stop_{nullptr, false, true};
    KV_event done_{nullptr, false, true};
    com_ptr<RX_core_service_disp_i> dispatcher_;
};

TEST_P(ManagerContract, StartGivesModeOneAndStopReachesDoneThroughTheTables) {
    manager_double::state recorded = manager_double::read_state();
    EXPECT_EQ(recorded.mode, 1u);
    EXPECT_EQ(recorded.start_count, 1u);
    EXPECT_FALSE(done_.wait(0)) << "done before stop";
    ASSERT_TRUE(stop_.set_event());
    ASSERT_TRUE(done_.wait(10000));
    recorded = manager_double::read_state();
    EXPECT_EQ(recorded.stop_count, 1u);
    EXPECT_EQ(recorded.done_count, 1u);
}

// A failure fails the client's call and drops any result; any other status reaches
// ret_code unchanged with the result, or with none when the manager gave none.
TEST_P(ManagerContract, ForwardCallResultRules) {
    const std::wstring long_text(manager_double::long_text_units, L'L');
    const struct {
        const wchar_t* name;
        HRESULT returned, ret_code;
        bool ret_written, has_result;
    } rows[] = {
        {manager_double::echo, S_OK, S_OK, true, true},
        {manager_double::s_false, S_OK, S_FALSE, true, true},
        {manager_double::other_success, S_OK, manager_double::other_success_status, true, true},
        {manager_double::no_result, S_OK, S_OK, true, false},
        {manager_double::s_false_no_result, S_OK, S_FALSE, true, false},
        {manager_double::fail, S_FALSE, manager_double::failure_status, false, false},
        {manager_double::fail_no_result, S_FALSE, manager_double::failure_status, false, false},
        {manager_double::fail_long_text, S_FALSE, manager_double::failure_status, false, false},
    };
    for (const auto& row : rows) {
        const std::wstring envelope = std::wstring(L"<function name=\"") + row.name + L"\"><a>x &amp; y</a></function>";
        SCOPED_TRACE(std::string(envelope.begin(), envelope.end()));
        const call_outcome outcome = call(dispatcher_.get(), envelope);
        EXPECT_EQ(outcome.returned, row.returned);
        EXPECT_EQ(outcome.ret_code, row.ret_code);
        EXPECT_EQ(outcome.ret_written, row.ret_written);
        EXPECT_EQ(outcome.has_result, row.has_result);
        if (row.has_result) {
            EXPECT_EQ(outcome.result, reserialized(envelope));
        }
        EXPECT_EQ(manager_double::read_state().last_call, std::wstring(row.name));
    }
    EXPECT_EQ(manager_double::read_state().call_count, std::size(rows));
}

// The text a failing manager still returned is freed by the service, not leaked.
TEST_P(ManagerContract, ResultOfAFailedCallIsFreed) {
    ASSERT_EQ(CoRegisterMallocSpy(&spy()), S_OK);
    spy().clear();
    // The spy sees a long text that is not freed ...
    BSTR kept = SysAllocStringLen(nullptr, static_cast<UINT>(manager_double::long_text_units));
    ASSERT_NE(kept, nullptr);
    const long_block_spy::counts leaked = spy().read();
    SysFreeString(kept);
    EXPECT_EQ(leaked.allocated, 1);
    EXPECT_EQ(leaked.outstanding, 1) << "the spy does not see long BSTRs; this test would prove nothing";

    // ... so after the failed call none of the manager's is left.
    spy().clear();
    const call_outcome outcome = call(dispatcher_.get(), L"<function name=\"manager_fail_long_text\"/>");
    const long_block_spy::counts after = spy().read();
    CoRevokeMallocSpy();
    EXPECT_EQ(outcome.ret_code, manager_double::failure_status);
    EXPECT_FALSE(outcome.ret_written);
    EXPECT_GE(after.allocated, 1) << "the manager's long text was not seen";
    EXPECT_EQ(after.outstanding, 0) << "the failed call's result leaked";
    EXPECT_EQ(after.freed, after.allocated);
}

INSTANTIATE_TEST_SUITE_P(Builds, ManagerContract, testing::ValuesIn(manager_double::builds));

}  // namespace
