#pragma once
// Test seam of the service's start. Production code never installs a fault: every step then
// runs as it is. A test build of the service puts a fault in place to make one step fail,
// throw as an exhausted heap would, or wait for the test at that moment.
#include <windows.h>

// The steps a fault may stand in for, in the order the service takes them.
enum class start_step {
    module_construction,  // the module's own objects (events, notification map)
    service_entry,        // the service entry, before COM is initialised on its thread
    class_registration,   // CoRegisterClassObject
    class_resumption,     // CoResumeClassObjects
    manager_creation,     // creating the manager component
    manager_start,        // start_manager
    event_system,         // creating the COM+ event system
    subscriptions,        // the subscriber object and the logon subscriptions
    window_thread,        // starting the session-change window thread
    message_loop,         // the main thread's message loop, right before it runs
};

// S_OK lets the step run; a failure stands in for the step's own result. The fault may
// also throw std::bad_alloc, or block until the test lets the step go on.
using start_fault = HRESULT (*)(start_step step);

// Puts `fault` in place (null: none) and returns the one before. Call it before the
// module is made.
start_fault install_start_fault(start_fault fault) noexcept;

// What the installed fault says about `step`; S_OK without one.
HRESULT start_fault_at(start_step step);
