#pragma once
// The checks of rxctl doctor on the installed files themselves: their signatures and the
// event-log source that names the service's program as its message file.
#include <string>
#include <vector>

#include "tools/rxctl/doctor_report.h"

namespace doctor {

// WinVerifyTrust on each file (the image hash and, on Windows, the certificate chain):
// OK when every one is signed and intact, FAIL when one was altered or is not trusted,
// INFO when one is unsigned (a development build). Under Wine only the image hash is
// checked and any certificate is trusted.
check signatures_check(const std::vector<std::wstring>& files);

// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\QlnVxCoreService:
// EventMessageFile names `exe`, TypesSupported is 7, and message 0 of that file formats.
// INFO while the source is not registered (the entries then show without their text).
check event_log_source_check(const std::wstring& exe);

}  // namespace doctor
