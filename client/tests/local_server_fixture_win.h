#pragma once
// KvRxCoreService.exe registered as a plain COM local server (-RegServer) in the test
// prefix, with the manager double and the locale-0 type-library alias Wine's marshaler
// needs. COM starts the program at the first activation; the fixture itself stays a client
// for its whole life, so every client call of a test (rxctl's included) reaches the same
// server, which ends about a second after the fixture lets go. Everything is undone on destruction.
#include "dispatcher/rx_core_service.h"
#include "foundation/com_resource_win.h"

namespace local_server_test {

// Whether the service's start event exists right now (opened, never created).
bool start_event_exists();

// The registration (the type-library alias included) and the service removed, so that
// the prefix holds none of the keys the registration writes.
void unregister_everything();

class registered_local_server {
public:
    registered_local_server();
    ~registered_local_server();
    registered_local_server(const registered_local_server&) = delete;
    registered_local_server& operator=(const registered_local_server&) = delete;
    bool ready() const noexcept { return ready_; }
private:
    bool ready_ = false;
    bool com_ = false;
    com_ptr<RX_core_service_disp_i> client_;
    unique_handle server_;
};

}  // namespace local_server_test
