// The main of every test program under Wine: a second process started in a role runs that
// role (child_process_win.h) and exits with its code; otherwise GoogleTest runs the tests.
#include <gtest/gtest.h>

#include "tests/support/child_process_win.h"

int main(int argc, char** argv) {
    if (const std::optional<int> code = child_process::run_requested_role()) return *code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
