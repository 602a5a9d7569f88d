// KvRxCoreService.exe: a registration verb on the command line registers or unregisters
// the program and ends it with the verb's HRESULT; without one the service module runs.
#include <windows.h>

#include "service/registration_verb.h"
#include "service/registration_win.h"
#include "service/service_module_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const registration_verb verb = find_registration_verb(GetCommandLineW());
    if (verb == registration_verb::none) return run_service_module();
    return static_cast<int>(run_registration_verb(verb, registration_context_of_this_executable()));
}
