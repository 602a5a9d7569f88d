#include "foundation/kv_named_objects_win.h"
#include "tests/support/child_process_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <thread>

namespace {
using child_process::unique_name;

// The roles a second process plays for these tests; each exits 0 when all went as expected.

// "signal:<name>": opens the first process's event and sets it.
int signal_role(const std::wstring& name) {
    KV_event event(name.c_str(), true, false);
    if (!event.event_handle()) return child_process::fail("cannot open the event");
    if (GetLastError() != ERROR_ALREADY_EXISTS) return child_process::fail("the event was not the first process's");
    return event.set_event() ? 0 : child_process::fail("cannot set the event");
}

// "wait:<name>": waits for the event (at most 30 s).
int wait_role(const std::wstring& name) {
    KV_event event(name.c_str(), true, false);
    return event.wait(30000) ? 0 : child_process::fail("the event was not set");
}

// "hold:<name>": takes the mutex, says so, holds it until told to release, then reports
// the release.
int hold_role(const std::wstring& name) {
    KV_event held((name + L"-held").c_str(), true, true);
    KV_event release((name + L"-release").c_str(), true, true);
    KV_event released((name + L"-released").c_str(), true, true);
    const unique_handle mutex(acquire_named_mutex(name.c_str(), false, true));
    if (!mutex) return child_process::fail("cannot take the mutex");
    int result = 0;
    if (!held.set_event()) result = child_process::fail("cannot say the mutex is held");
    if (!release.wait(30000)) result = child_process::fail("never told to release");
    if (!released.set_event()) result = child_process::fail("cannot report the release");  // set first: the waiter may run the moment it is free
    if (!ReleaseMutex(mutex.get())) result = child_process::fail("cannot release the mutex");
    return result;
}

const child_process::role signal_child{L"signal", signal_role};
const child_process::role wait_child{L"wait", wait_role};
const child_process::role hold_child{L"hold", hold_role};

TEST(KvNamedObjects, MakeObjectName) {
    struct row { const wchar_t* name; bool global; const wchar_t* expected; };
    const row rows[] = {
        {L"start", true, L"Global\\start"}, {L"start", false, L"Local\\start"},
        {L"", true, L"Global\\"},           {nullptr, true, nullptr}, {nullptr, false, nullptr},
    };
    for (const row& r : rows) {
        const kv_wide_text made = make_object_name(r.name, r.global);
        if (r.expected) {
            ASSERT_NE(made, nullptr);
            EXPECT_STREQ(made.get(), r.expected);
        } else {
            EXPECT_EQ(made, nullptr);
        }
    }
}

TEST(KvNamedObjects, OpenSecurityAttributesCarryANullAccessList) {
    const kv_open_security_attributes attributes(open_security_attributes());
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(attributes->nLength, 24u);
    EXPECT_TRUE(attributes->bInheritHandle);
    auto* descriptor = static_cast<PSECURITY_DESCRIPTOR>(attributes->lpSecurityDescriptor);
    ASSERT_NE(descriptor, nullptr);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_EQ(revision, 1u);
    BOOL present = FALSE, defaulted = TRUE;
    PACL list = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(list, nullptr);
    EXPECT_FALSE(defaulted);
    free_security_attributes(nullptr);  // ignored
}

TEST(KvEvent, ObjectName) {
    const std::wstring name = unique_name(L"name");
    struct row { const wchar_t* name; bool global; std::wstring expected; };
    const row rows[] = {
        {nullptr, true, L""},  {nullptr, false, L""},
        {name.c_str(), true, L"Global\\" + name}, {name.c_str(), false, L"Local\\" + name},
    };
    for (const row& r : rows) {
        KV_event event(r.name, r.global, true);
        EXPECT_NE(event.event_handle(), nullptr);
        if (r.name) {
            ASSERT_NE(event.object_name(), nullptr);
            EXPECT_EQ(std::wstring(event.object_name()), r.expected);
        } else {
            EXPECT_EQ(event.object_name(), nullptr);
        }
    }
}

TEST(KvEvent, WaitFollowsTheResetMode) {
    struct step { enum { set, reset, wait } action; bool expected; };
    struct row { bool manual; std::vector<step> steps; };
    const row rows[] = {
        {true, {{step::wait, false}, {step::set, true}, {step::wait, true}, {step::wait, true},
                {step::reset, true}, {step::wait, false}}},
        {false, {{step::wait, false}, {step::set, true}, {step::wait, true}, {step::wait, false},
                 {step::set, true}, {step::set, true}, {step::wait, true}, {step::wait, false}}},
    };
    for (const row& r : rows) {
        KV_event event(nullptr, false, r.manual);
        int index = 0;
        for (const step& s : r.steps) {
            const bool result = s.action == step::set     ? event.set_event()
                                : s.action == step::reset ? event.reset_event()
                                                          : event.wait(0);
            EXPECT_EQ(result, s.expected) << (r.manual ? "manual" : "auto") << " step " << index;
            ++index;
        }
    }
}

TEST(KvEvent, TheSameNameAndNamespaceIsTheSameEvent) {
    const std::wstring name = unique_name(L"same");
    KV_event first(name.c_str(), true, true);
    KV_event second(name.c_str(), true, false);  // opens the first: stays manual-reset
    KV_event local(name.c_str(), false, true);   // another namespace: another event
    ASSERT_TRUE(first.set_event());
    EXPECT_TRUE(second.wait(0));
    EXPECT_TRUE(second.wait(0));
    EXPECT_FALSE(local.wait(0));
}

TEST(KvEvent, FailedCreationAnswersFalseAndNull) {
    // The name already belongs to a mutex, so no event of that name can be made.
    const std::wstring name = unique_name(L"clash");
    unique_handle mutex(CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str()));
    ASSERT_TRUE(mutex);
    KV_event event(name.c_str(), true, true);
    EXPECT_EQ(event.event_handle(), nullptr);
    EXPECT_FALSE(event.set_event());
    EXPECT_FALSE(event.reset_event());
    EXPECT_FALSE(event.wait(0));
    EXPECT_STREQ(event.object_name(), (L"Global\\" + name).c_str());
}

TEST(KvEvent, HandleIsInheritable) {
    KV_event event(nullptr, false, true);
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(event.event_handle(), &flags));
    EXPECT_TRUE(flags & HANDLE_FLAG_INHERIT);
}

// The outside component calls through the table: its deleting destructor, set_event,
// reset_event, wait, event_handle, object_name, one entry each.
template <typename Member>
std::uintptr_t table_offset(Member member) {
    std::uintptr_t representation[2];
    static_assert(sizeof(Member) == sizeof representation);
    std::memcpy(representation, &member, sizeof representation);
    return representation[0] - 1;  // a virtual member is its table offset plus one
}

TEST(KvEvent, VirtualOperationsKeepTheirTableOrder) {
    constexpr std::uintptr_t slot = sizeof(void*);
    EXPECT_EQ(table_offset(&KV_event::set_event), 1 * slot);
    EXPECT_EQ(table_offset(&KV_event::reset_event), 2 * slot);
    EXPECT_EQ(table_offset(&KV_event::wait), 3 * slot);
    EXPECT_EQ(table_offset(&KV_event::event_handle), 4 * slot);
    EXPECT_EQ(table_offset(&KV_event::object_name), 5 * slot);

    // Called through raw table entries, as a caller built elsewhere does.
    const std::wstring name = unique_name(L"table");
    KV_event event(name.c_str(), true, true);
    void* const* table = *reinterpret_cast<void* const* const*>(&event);
    auto call_bool = [&](int index) { return reinterpret_cast<bool (*)(KV_event*)>(table[index])(&event); };
    EXPECT_TRUE(call_bool(1));  // set_event
    EXPECT_TRUE(reinterpret_cast<bool (*)(KV_event*, std::uint32_t)>(table[3])(&event, 0));
    EXPECT_TRUE(call_bool(2));  // reset_event
    EXPECT_FALSE(reinterpret_cast<bool (*)(KV_event*, std::uint32_t)>(table[3])(&event, 0));
    EXPECT_EQ(reinterpret_cast<HANDLE (*)(KV_event*)>(table[4])(&event), event.event_handle());
    EXPECT_EQ(reinterpret_cast<const wchar_t* (*)(KV_event*)>(table[5])(&event), event.object_name());
    // The layout behind the table: the handle, then the name.
    struct layout { void* table; HANDLE handle; const wchar_t* name; };
    static_assert(sizeof(KV_event) == sizeof(layout));
    layout seen;
    std::memcpy(&seen, &event, sizeof seen);
    EXPECT_EQ(seen.handle, event.event_handle());
    EXPECT_EQ(seen.name, event.object_name());
}

// Entry 0 destroys as the platform compiler's deleting destructor does: flags 1 frees the
// object, flags 0 only ends its life (the handle is closed either way).
TEST(KvEvent, TableEntryZeroDestroys) {
    auto* event = new KV_event(nullptr, false, true);
    HANDLE handle = event->event_handle();
    void* const* table = *reinterpret_cast<void* const* const*>(event);
    auto destroy = reinterpret_cast<void* (*)(KV_event*, unsigned int)>(table[0]);
    EXPECT_EQ(destroy(event, 1), static_cast<void*>(event));
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(handle, &flags));

    alignas(KV_event) unsigned char storage[sizeof(KV_event)];
    auto* placed = new (storage) KV_event(nullptr, false, true);
    handle = placed->event_handle();
    EXPECT_EQ(placed->destroy(0), static_cast<void*>(storage));
    EXPECT_FALSE(GetHandleInformation(handle, &flags));
}

TEST(KvEvent, SignalledFromAnotherProcess) {
    const std::wstring name = unique_name(L"signal");
    KV_event event(name.c_str(), true, false);
    unique_handle child = child_process::start(L"signal", name);
    ASSERT_TRUE(child);
    EXPECT_EQ(child_process::wait_for_exit(child.get()), 0u);
    EXPECT_TRUE(event.wait(0));
    EXPECT_FALSE(event.wait(0)) << "auto-reset by the successful wait";
}

TEST(KvEvent, WaitedOnInAnotherProcess) {
    const std::wstring name = unique_name(L"wait");
    KV_event event(name.c_str(), true, false);
    unique_handle child = child_process::start(L"wait", name);
    ASSERT_TRUE(child);
    EXPECT_TRUE(event.set_event());
    EXPECT_EQ(child_process::wait_for_exit(child.get()), 0u);
    EXPECT_FALSE(event.wait(0)) << "the other process's wait consumed the signal";
}

TEST(KvNamedMutex, OwnershipOnReturn) {
    struct row { bool take_ownership; bool owned; };
    const row rows[] = {{true, true}, {false, false}};
    for (const row& r : rows) {
        const std::wstring name = unique_name(L"own");
        unique_handle mutex(acquire_named_mutex(name.c_str(), false, r.take_ownership));
        ASSERT_TRUE(mutex);
        EXPECT_EQ(ReleaseMutex(mutex.get()) != FALSE, r.owned) << r.take_ownership;
    }
    // Unnamed, with a null name.
    unique_owned_mutex unnamed(acquire_named_mutex(nullptr, false, true));
    EXPECT_TRUE(unnamed);
}

TEST(KvNamedMutex, SameNameIsTheSameMutexOnlyInTheSameNamespace) {
    const std::wstring name = unique_name(L"space");
    unique_owned_mutex local(acquire_named_mutex(name.c_str(), false, true));
    ASSERT_TRUE(local);
    // Another namespace: a different mutex, free at once even while the first is held.
    std::atomic<bool> taken{false};
    std::thread([&] {
        unique_owned_mutex global(acquire_named_mutex(name.c_str(), true, true));
        taken = static_cast<bool>(global);
    }).join();
    EXPECT_TRUE(taken);
}

TEST(KvNamedMutex, FailureGivesANullHandle) {
    const std::wstring name = unique_name(L"clash");
    KV_event event(name.c_str(), false, true);  // the name is taken by an event
    ASSERT_NE(event.event_handle(), nullptr);
    const unique_handle mutex(acquire_named_mutex(name.c_str(), false, true));
    EXPECT_FALSE(mutex);
}

TEST(KvNamedMutex, BlocksWhileAnotherThreadHoldsIt) {
    const std::wstring name = unique_name(L"thread");
    unique_owned_mutex held(acquire_named_mutex(name.c_str(), false, true));
    ASSERT_TRUE(held);
    std::atomic<bool> released{false}, released_before_acquired{false};
    KV_event waiting(nullptr, false, true);
    std::thread other([&] {
        waiting.set_event();
        unique_owned_mutex mine(acquire_named_mutex(name.c_str(), false, true));
        released_before_acquired = released.load() && static_cast<bool>(mine);
    });
    ASSERT_TRUE(waiting.wait(30000));
    released = true;
    held.reset();
    other.join();
    EXPECT_TRUE(released_before_acquired);
}

TEST(KvNamedMutex, BlocksWhileAnotherProcessHoldsIt) {
    const std::wstring name = unique_name(L"process");
    KV_event held((name + L"-held").c_str(), true, true);
    KV_event release((name + L"-release").c_str(), true, true);
    KV_event released((name + L"-released").c_str(), true, true);
    unique_handle child = child_process::start(L"hold", name);
    ASSERT_TRUE(child);
    ASSERT_TRUE(held.wait(30000));

    std::atomic<bool> acquired_after_release{false};
    std::thread waiter([&] {
        unique_owned_mutex mine(acquire_named_mutex(name.c_str(), false, true));
        // The child sets "released" before it lets go: seeing it proves the wait.
        acquired_after_release = static_cast<bool>(mine) && released.wait(0);
    });
    ASSERT_TRUE(release.set_event());
    waiter.join();
    EXPECT_TRUE(acquired_after_release);
    EXPECT_EQ(child_process::wait_for_exit(child.get()), 0u);
}
}  // namespace
