// The manager double through real COM, with real KV_event objects as the service passes them.
#include "tests/doubles/manager/manager_double_win.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <new>
#include <set>
#include <string>

#include "dispatcher/manager_interface_win.h"
#include "foundation/com_resource_win.h"
#include "foundation/kv_named_objects_win.h"
#include "foundation/unique_resource_win.h"
#include "tests/doubles/common/com_double_locations_win.h"

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

// Each case runs against both builds of the double (the project's compiler, and the
// platform compiler's ABI that the real component has).
class ManagerDouble : public testing::TestWithParam<manager_double::build> {
protected:
    void SetUp() override {
        ASSERT_EQ(manager_double::register_double(GetParam()), S_OK)
            << "cannot register " << GetParam().label << " build (its DLL is built by clang++ and lld-link; "
            << "scripts/install-deps.sh installs clang and lld)";
        ASSERT_TRUE(manager_double::reset());
        ASSERT_EQ(CoCreateInstance(CLSID_RX_manager_component, nullptr, CLSCTX_INPROC_SERVER, IID_RX_manager_i,
                                   manager.put_void()),
                  S_OK);
    }
    void TearDown() override {
        manager_double::reset();
        manager_double::register_double();  // the default build for everyone else
    }

    com_apartment apartment;
    com_ptr<RX_manager_i> manager;
    // Unnamed manual-reset events, as the service makes them.
    KV_event stop{nullptr, false, true};
    KV_event done{nullptr, false, true};
};

TEST_P(ManagerDouble, StopThreadSetsDoneThroughTheEventTablesAndOutlivesTheObject) {
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

TEST_P(ManagerDouble, StartFailureSwitchFailsTheStartAndStartsNothing) {
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

TEST_P(ManagerDouble, ForwardCallBehavesAsItsNameAsks) {
    const wchar_t* envelope = L"\xFEFF<call><function name=\"x\"/></call>";
    struct row { const wchar_t* name; HRESULT status; bool echoes; };
    const row rows[] = {
        {manager_double::echo, S_OK, true},
        {manager_double::s_false, S_FALSE, true},
        {manager_double::no_result, S_OK, false},
        {manager_double::fail, manager_double::failure_status, true},
        {manager_double::s_false_no_result, S_FALSE, false},
        {manager_double::fail_no_result, manager_double::failure_status, false},
        {manager_double::other_success, manager_double::other_success_status, true},
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

TEST_P(ManagerDouble, NeverDoneKeepsTheDoneEventUnset) {
    ASSERT_EQ(manager->start_manager(1, &stop, &done), S_OK);
    unique_bstr result;
    EXPECT_EQ(manager->forward_call(manager_double::never_done, L"e", result.put()), S_OK);
    ASSERT_TRUE(stop.set_event());
    EXPECT_TRUE(eventually([] { return manager_double::read_state().stop_count == 1; }));
    EXPECT_FALSE(done.wait(300));
    EXPECT_EQ(manager_double::read_state().done_count, 0u);
}

TEST_P(ManagerDouble, FailLongTextFailsWithATextPastTheAllocatorsCache) {
    unique_bstr result;
    EXPECT_EQ(manager->forward_call(manager_double::fail_long_text, L"e", result.put()),
              manager_double::failure_status);
    ASSERT_TRUE(result);
    EXPECT_EQ(SysStringLen(result.get()), manager_double::long_text_units);
    EXPECT_EQ(std::wstring(result.get()), std::wstring(manager_double::long_text_units, L'L'));
}

// The double asks the service's events object_name, event_handle, reset_event and wait.
TEST_P(ManagerDouble, EventProbeReachesEveryOperationOfTheEvents) {
    const std::wstring name = L"KvManagerDoubleProbe" + std::to_wstring(GetCurrentProcessId());
    KV_event named_stop{name.c_str(), false, true};
    ASSERT_EQ(manager->start_manager(1, &named_stop, &done), S_OK);
    ASSERT_TRUE(done.set_event());
    unique_bstr probe;
    ASSERT_EQ(manager->forward_call(manager_double::event_probe, L"e", probe.put()), S_OK);
    ASSERT_TRUE(probe);
    const std::wstring handle = std::to_wstring(reinterpret_cast<std::uintptr_t>(named_stop.event_handle()));
    // reset_event succeeded, so the wait that followed found the done event unset.
    EXPECT_EQ(std::wstring(probe.get()), L"Local\\" + name + L"|" + handle + L"|1|0");
    EXPECT_FALSE(done.wait(0));

    KV_event unnamed_stop{nullptr, false, true};
    ASSERT_EQ(manager->start_manager(1, &unnamed_stop, &done), S_OK);
    unique_bstr unnamed;
    ASSERT_EQ(manager->forward_call(manager_double::event_probe, L"e", unnamed.put()), S_OK);
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(std::wstring(unnamed.get()).substr(0, 7), L"(null)|");
    // One stop thread after the other, so that neither still uses an event when it goes.
    ASSERT_TRUE(named_stop.set_event());
    ASSERT_TRUE(done.wait(10000));
    ASSERT_TRUE(done.reset_event());
    ASSERT_TRUE(unnamed_stop.set_event());
    EXPECT_TRUE(done.wait(10000));
}

INSTANTIATE_TEST_SUITE_P(Builds, ManagerDouble, testing::ValuesIn(manager_double::builds));

// The platform-ABI build itself, loaded as a plain DLL.
class PlatformAbiBuild : public testing::Test {
protected:
    void SetUp() override {
        library_.reset(LoadLibraryW(doubles::double_path(doubles::manager_double_msvc_dll).c_str()));
        ASSERT_TRUE(library_) << "kv_manager_double_msvc.dll is missing (built by clang++ and lld-link; "
                                 "scripts/install-deps.sh installs clang and lld)";
    }
    template <typename Function>
    Function* export_named(const char* name) {
        return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(library_.get(), name)));
    }
    // True while a kernel object of that name exists.
    static bool exists(const std::wstring& namespaced) {
        const unique_handle opened(OpenEventW(SYNCHRONIZE, FALSE, namespaced.c_str()));
        return static_cast<bool>(opened);
    }
    unique_hmodule library_;
};

// It is what it claims to be: linked by lld-link (linker version 14; GNU ld writes 2), and
// importing nothing but the system's libraries: no C runtime.
TEST_F(PlatformAbiBuild, IsLinkedByLldWithoutACRuntime) {
    const auto* base = reinterpret_cast<const BYTE*>(library_.get());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    EXPECT_GE(nt->OptionalHeader.MajorLinkerVersion, 14);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(imports.VirtualAddress, 0u);
    std::set<std::string> names;
    for (const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"ADVAPI32.DLL", "KERNEL32.DLL", "OLEAUT32.DLL"}));
}

// Entry 0 of KV_event's table is what the platform compiler calls for `delete` (flags 1) and
// for an explicit destructor call (flags 0): the service's events answer both. The calls are
// made by the platform-ABI build, by name.
TEST_F(PlatformAbiBuild, DeleteAndExplicitDestructionCloseTheEvent) {
    using end_of_life = void WINAPI(KV_event*);
    const struct {
        const char* entry;
        const wchar_t* tag;
        bool frees;
    } rows[] = {{"kv_delete_event", L"delete", true}, {"kv_destroy_event_in_place", L"in_place", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entry);
        end_of_life* const end = export_named<end_of_life>(row.entry);
        ASSERT_NE(end, nullptr);
        const std::wstring name = L"KvAbiDestructor" + std::to_wstring(GetCurrentProcessId()) + row.tag;
        if (row.frees) {
            KV_event* const event = new KV_event(name.c_str(), false, true);
            ASSERT_TRUE(exists(L"Local\\" + name));
            end(event);  // destroys and frees it
        } else {
            alignas(KV_event) unsigned char storage[sizeof(KV_event)];
            KV_event* const event = new (storage) KV_event(name.c_str(), false, true);
            ASSERT_TRUE(exists(L"Local\\" + name));
            end(event);  // destroys it and leaves the storage, which is not the heap's
        }
        EXPECT_FALSE(exists(L"Local\\" + name)) << "the handle was not closed";
    }
}

}  // namespace
