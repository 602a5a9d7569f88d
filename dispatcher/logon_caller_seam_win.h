#pragma once
// Test seam of the logon-event caller rule. Production code never calls this: under Wine
// every process runs as one user and COM gives no call context, so a test supplies the
// caller's identity here to exercise the rule for every account.
#include "dispatcher/logon_caller_win.h"

using logon_caller_source = logon_caller (*)(bool reachable_from_outside);

// Installs the source of current_logon_caller (null: the platform's) and returns the
// previous one.
logon_caller_source set_logon_caller_source(logon_caller_source source) noexcept;
