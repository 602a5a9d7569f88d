#include "service/service_module_win.h"

// replaced by the service module
int run_service_module() { return 0; }
