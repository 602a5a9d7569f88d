#pragma once
// The subscriptions stored in this process: what IEventSystem::Store keeps, the registry
// record of each (HKLM\Software\KvTestDoubles\EventSystem\Subscriptions\<n>), and the hidden
// delivery window of every thread that stored one.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/com_resource_win.h"

namespace event_system_double {

struct subscription_texts {
    std::wstring id, name, method, event_class, prog_id;
};

// Stores a subscription made on the calling thread, replacing one of the same id; the
// calling thread gets a delivery window and the process starts serving its firing pipe.
HRESULT store_subscription(const subscription_texts& texts, com_ptr<IUnknown> subscriber);

// Removes the subscriptions whose id equals `id` (without regard to case); how many.
unsigned remove_subscriptions(const std::wstring& id);

// Where a firing of `method` goes: one entry per stored subscription of that method.
struct delivery_target {
    DWORD sequence;
    HWND window;
};
std::vector<delivery_target> targets_of(const std::wstring& method);

// The subscriber of a stored subscription (null when it has been removed meanwhile).
com_ptr<IUnknown> subscriber_of(DWORD sequence);

// True when both texts are equal without regard to case.
bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b);

}  // namespace event_system_double
