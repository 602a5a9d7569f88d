#pragma once
// The class object of RX_core_service_disp: a standard class factory that makes
// (optionally aggregated) objects and counts LockServer calls in the server lock.
#include <unknwn.h>

// The process's one class object; its references do not keep the server alive.
IClassFactory* rx_core_service_disp_class_object() noexcept;
