#pragma once
// CEventSystem of the event system double: IEventSystem::Store and Remove over the
// subscriptions stored in this process.
#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <string>

namespace event_system_double {

HRESULT create_event_system(REFIID iid, void** object);

// Parses "SubscriptionID=<id>" (spaces around "=" or "==", quotes around the id allowed).
// The id, or nothing with `error_index` at the offending character.
struct parsed_query {
    bool valid = false;
    std::size_t error_index = 0;
    std::wstring id;
};
parsed_query parse_remove_query(const std::wstring& query);

}  // namespace event_system_double
