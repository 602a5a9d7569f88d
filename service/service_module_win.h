#pragma once

// Runs the program without a registration verb; returns the process exit code.
int run_service_module();
