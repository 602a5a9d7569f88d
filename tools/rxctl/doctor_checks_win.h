#pragma once
// The checks of rxctl doctor, each against the real registry, service control manager,
// device and kernel objects, only reading. `exe` is the full path of the
// KvRxCoreService.exe the install should use (empty when none could be found);
// `register_command` the command that registers it again.
#include <string>

#include "tools/rxctl/doctor_report.h"

namespace doctor {

check executable_check(const std::wstring& exe, const std::string& found_how);
check service_configuration_check(const std::wstring& exe, const std::string& register_command);
check app_id_check(const std::string& register_command);
check class_check(const std::wstring& exe, const std::string& register_command);
check prog_ids_check(const std::string& register_command);
check type_library_check(const std::wstring& exe, const std::string& register_command);
check manager_class_check();
check vault_device_check();
check service_running_check(const std::string& register_command);
check start_event_check();
check trace_switch_check();

// The service's executable without its quotes, empty when the service is not installed.
std::wstring service_executable();

}  // namespace doctor
