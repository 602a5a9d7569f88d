#pragma once
// CEventSubscription of the event system double: holds the properties a subscriber sets
// before IEventSystem::Store. Every live object is counted in the registry
// (LiveSubscriptionObjects), so tests can see that callers release them.
#include <windows.h>
#include <unknwn.h>

namespace event_system_double {

// IClassFactory::CreateInstance's work for CEventSubscription (subject to the failure
// switch "CreateInstance").
HRESULT create_event_subscription(REFIID iid, void** object);

}  // namespace event_system_double
