// rxctl status on a clean prefix, and around the service registered with "Service",
// running and stopped through the control manager; rxctl call through the running service.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "foundation/tests/trace_capture_win.h"
#include "service/tests/registration_support_win.h"
#include "service/tests/service_host_support_win.h"
#include "tools/rxctl/tests/rxctl_runner_win.h"
#include "client/tests/local_server_fixture_win.h"

namespace {

std::string utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c);  // the paths here are ASCII
    return out;
}

::testing::AssertionResult has_line(const std::string& out, const std::string& line) {
    if (("\n" + out).find("\n" + line + "\n") != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no line \"" << line << "\" in:\n" << out;
}

const std::string start_event = "start event Global\\{10C9DE46-185B-4434-8E1B-E7567E1134F5}: ";
const std::string app_id = "AppID {04755478-AF8D-438D-A8B4-235C0EEC2FBF}: ";
const std::string class_id = "class {3106EB92-9B4B-4D1C-8731-F46403BCAABF}: ";
const std::string type_library = "type library {E525C81A-0535-4FC4-B5DE-7F1FFA97266F}: ";

TEST(StatusCommand, NothingRegisteredNothingRunning) {
    local_server_test::unregister_everything();
    ASSERT_TRUE(trace_test::disable_tracing());
    const rxctl_result r = run_rxctl(L"status");
    EXPECT_EQ(r.exit_code, 1u) << r.err;
    EXPECT_TRUE(has_line(r.out, "service QlnVxCoreService: not installed"));
    EXPECT_TRUE(has_line(r.out, start_event + "absent"));
    EXPECT_TRUE(has_line(r.out, app_id + "not registered"));
    EXPECT_TRUE(has_line(r.out, class_id + "not registered"));
    EXPECT_TRUE(has_line(r.out, type_library + "not registered"));
    EXPECT_TRUE(has_line(r.out, "tracing: off"));
    EXPECT_EQ(r.err, "rxctl status: not ready: the service is not installed: install the package\n");
    EXPECT_EQ(run_rxctl(L"status --json").out,
              "{\"service\":\"not installed\",\"start event\":\"absent\",\"AppID\":\"not registered\","
              "\"class\":\"not registered\",\"type library\":[\"not registered\"],"
              "\"program\":\"unknown (the service is not installed)\",\"tracing\":\"off\","
              "\"ready\":false,\"reason\":\"the service is not installed: install the package\"}\n");
    EXPECT_FALSE(local_server_test::start_event_exists()) << "status only opens the start event";
    EXPECT_EQ(run_rxctl(L"status now").exit_code, 2u);
}

TEST(StatusCommand, TheRegisteredServiceRunningThenStopped) {
    service_host_test::registered_service service;  // "Service", doubles, alias, tracing on
    ASSERT_TRUE(service.ready());
    const std::string exe = utf8(registration_test::service_exe());
    ASSERT_TRUE(service_host_test::start_service());
    ASSERT_TRUE(service_host_test::wait_for_start_event(30000));

    rxctl_result r = run_rxctl(L"status");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_TRUE(has_line(r.out, "service QlnVxCoreService: running, process " +
                                    std::to_string(service_host_test::service_process_id())));
    EXPECT_TRUE(has_line(r.out, start_event + "signalled"));
    EXPECT_TRUE(has_line(r.out, app_id + "registered, LocalService = QlnVxCoreService"));
    EXPECT_TRUE(has_line(r.out, class_id + "registered, server \"" + exe + "\""));
    EXPECT_TRUE(has_line(r.out, type_library + "1.0 locale 409: " + exe));
    EXPECT_TRUE(has_line(r.out, type_library + "1.0 locale 0: " + exe)) << "the alias of the test prefix";
    EXPECT_TRUE(has_line(r.out, "tracing: on"));
    EXPECT_TRUE(has_line(r.out, "program: " + exe + ", version " KV_TEST_PRODUCT_VERSION ".0")) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(run_rxctl(L"status --json").out.find(",\"tracing\":\"on\",\"ready\":true,\"reason\":\"\"}\n"),
              std::string::npos);

    r = run_rxctl(L"call manager_echo");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(r.out.rfind("00000000\n", 0), 0u) << r.out;

    ASSERT_TRUE(service_host_test::stop_service());
    r = run_rxctl(L"status");
    EXPECT_EQ(r.exit_code, 1u) << r.err;
    EXPECT_TRUE(has_line(r.out, "service QlnVxCoreService: stopped"));
    EXPECT_NE(r.err.find("not ready: the service is stopped, not running"), std::string::npos) << r.err;
    EXPECT_TRUE(has_line(r.out, start_event + "absent"));
}

}  // namespace
