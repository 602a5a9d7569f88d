// KvRxCoreService.exe: a registration verb on the command line registers or unregisters
// the program and ends it with the verb's HRESULT; without one the service module runs.
#include <windows.h>

#include "service/service_module_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return run_program(GetCommandLineW()); }
