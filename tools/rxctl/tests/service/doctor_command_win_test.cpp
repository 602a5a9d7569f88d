// rxctl doctor against the real registry, service control manager, vault-driver double and
// start event of the test prefix: a healthy registration with the service running, then
// one broken piece at a time, each with the line that names it and the mend it prints.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/tests/trace_capture_win.h"
#include "foundation/unique_resource_win.h"
#include "service/tests/registration_support_win.h"
#include "service/tests/service_host_support_win.h"
#include "tests/doubles/common/com_double_locations_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "tests/doubles/vault_driver_double_win.h"
#include "tools/rxctl/tests/rxctl_runner_win.h"

namespace {

const std::vector<std::string> check_names = {
    "executable", "service configuration", "AppID", "class", "ProgIDs", "type library",
    "manager component", "vault device", "service running", "start event", "event-log source", "tracing"};

std::string ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }  // ASCII paths

// The line of the check `name`, or "" when there is none.
std::string line_of(const std::string& out, const std::string& name) {
    for (std::size_t at = 0; at < out.size();) {
        const std::size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        if (line.size() > 6 && line.compare(6, name.size() + 2, name + ": ") == 0) return line;
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return {};
}

std::string verdict_of(const std::string& out, const std::string& name) { return line_of(out, name).substr(0, 4); }

const std::wstring app_id_key = std::wstring(L"AppID\\") + registration_test::app_id;
const std::wstring class_key = std::wstring(L"CLSID\\") + registration_test::class_id;
const std::wstring manager_server_key = L"CLSID\\{8E033063-C1D5-43E1-964C-F92AFBD11556}\\InprocServer32";
const std::wstring type_library_file_key = std::wstring(registration_test::type_library_key) + L"\\1.0\\409\\win64";

bool set_default(const std::wstring& key, const std::wstring& value) {
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The service created anew the way a careless installer might: a shared process, another
// account, another program.
bool misconfigure_service() {
    if (!registration_test::remove_service(registration_test::service_name)) return false;
    const unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const unique_sc_handle service(CreateServiceW(
        manager.get(), registration_test::service_name, registration_test::service_name, SERVICE_ALL_ACCESS,
        SERVICE_WIN32_SHARE_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
        L"\"C:\\elsewhere\\KvRxCoreService.exe\"", nullptr, nullptr, nullptr, L"NT AUTHORITY\\LocalService", L""));
    return static_cast<bool>(service);
}

// The event-log source as the package writes it (the program's own registration does not).
const wchar_t event_source_key[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QlnVxCoreService";
bool register_event_source(DWORD types) {
    const std::wstring file = registration_test::service_exe();
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, event_source_key, L"EventMessageFile", REG_SZ, file.c_str(),
                           static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
           RegSetKeyValueW(HKEY_LOCAL_MACHINE, event_source_key, L"TypesSupported", REG_DWORD, &types,
                           sizeof types) == ERROR_SUCCESS;
}
void remove_event_source() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, event_source_key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, event_source_key);
}
// Registered for one test's life.
struct registered_event_source {
    const bool ok = register_event_source(7);
    ~registered_event_source() { remove_event_source(); }
};

TEST(DoctorCommand, AHealthyInstallThenTheServiceStopped) {
    service_host_test::registered_service service;  // "Service", doubles, alias, tracing on
    ASSERT_TRUE(service.ready());
    const registered_event_source event_source;
    ASSERT_TRUE(event_source.ok);
    ASSERT_TRUE(service_host_test::start_service());
    ASSERT_TRUE(service_host_test::wait_for_start_event(30000));
    const std::string exe = ascii(registration_test::service_exe());

    for (const std::wstring& args : {std::wstring(L"doctor"), L"doctor --exe \"" + registration_test::service_exe() + L"\""}) {
        const rxctl_result r = run_rxctl(args);
        EXPECT_EQ(r.exit_code, 0u) << r.out << r.err;
        for (const std::string& name : check_names) {
            EXPECT_EQ(verdict_of(r.out, name), name == "tracing" ? "INFO" : "OK  ") << name << " in:\n" << r.out;
        }
        EXPECT_NE(line_of(r.out, "service running").find("running, process " +
                                                         std::to_string(service_host_test::service_process_id())),
                  std::string::npos)
            << r.out;
        EXPECT_NE(line_of(r.out, "service configuration").find("own process, LocalSystem, demand start, \"" + exe + "\""),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(line_of(r.out, "tracing"), "INFO  tracing: on (rxctl trace off turns it off)");
    }
    EXPECT_NE(run_rxctl(L"doctor").out.find(exe + " (the service's program)"), std::string::npos);

    // The event-log source with a wrong type mask, then missing. The test programs are
    // unsigned: information only.
    EXPECT_EQ(verdict_of(run_rxctl(L"doctor").out, "signatures"), "INFO");
    ASSERT_TRUE(register_event_source(3));
    EXPECT_NE(line_of(run_rxctl(L"doctor").out, "event-log source").find("its TypesSupported is 3, not 7"),
              std::string::npos);
    remove_event_source();
    EXPECT_EQ(line_of(run_rxctl(L"doctor").out, "event-log source").rfind("FAIL  event-log source: HKLM\\SYSTEM", 0), 0u);

    ASSERT_TRUE(service_host_test::stop_service());
    const rxctl_result r = run_rxctl(L"doctor");
    EXPECT_EQ(r.exit_code, 1u) << r.out;
    EXPECT_EQ(line_of(r.out, "service running"), "FAIL  service running: stopped; mend: net start QlnVxCoreService");
    EXPECT_EQ(line_of(r.out, "start event").rfind("FAIL  start event: Global\\{10C9DE46-185B-4434-8E1B-E7567E1134F5} "
                                                  "is absent: the service is not running; mend: net start",
                                                  0),
              0u)
        << r.out;
    EXPECT_EQ(verdict_of(r.out, "class"), "OK  ") << r.out;
    const rxctl_result json = run_rxctl(L"doctor --json");  // the same checks for scripts
    EXPECT_EQ(json.exit_code, 1u);
    EXPECT_EQ(json.out.rfind("{\"passed\":false,\"checks\":[{\"verdict\":\"OK\",\"name\":\"executable\",", 0), 0u)
        << json.out;
    EXPECT_NE(json.out.find("{\"verdict\":\"FAIL\",\"name\":\"service running\",\"problems\":[\"stopped\"],"
                            "\"mend\":\"net start QlnVxCoreService\"}"),
              std::string::npos)
        << json.out;
    EXPECT_EQ(run_rxctl(L"doctor now").exit_code, 2u);
    EXPECT_EQ(run_rxctl(L"doctor --exe").exit_code, 2u);
}

TEST(DoctorCommand, EachBrokenPieceFailsItsCheckAndThePrintedMendRepairsIt) {
    service_host_test::registered_service service;  // registered, not started
    ASSERT_TRUE(service.ready());
    const registered_event_source event_source;
    ASSERT_TRUE(event_source.ok);
    const std::wstring exe = registration_test::service_exe();
    const std::string register_mend = "mend: \"" + ascii(exe) + "\" -Service";
    const std::function<bool()> register_again = [&] { return registration_test::run(exe, L"-Service") == 0; };
    // The executable named, so that a service running another program fails only its own check.
    const std::wstring doctor = L"doctor --exe \"" + exe + L"\"";
    const struct {
        const char* check;
        std::function<bool()> break_it;
        std::vector<std::string> problems;  // each found in the check's line
        std::string mend;                   // found in the line
        std::function<bool()> mend_it;
    } rows[] = {
        {"AppID",
         [] { return RegDeleteKeyValueW(HKEY_CLASSES_ROOT, app_id_key.c_str(), L"LocalService") == ERROR_SUCCESS; },
         {"HKCR\\" + ascii(app_id_key) + "\\LocalService is missing"}, register_mend, register_again},
        {"AppID",
         [] { return RegDeleteKeyValueW(HKEY_CLASSES_ROOT, L"AppID\\KvRxCoreService.EXE", L"AppID") == ERROR_SUCCESS; },
         {"HKCR\\AppID\\KvRxCoreService.EXE\\AppID is missing"}, register_mend, register_again},
        {"class", [] { return set_default(class_key + L"\\LocalServer32", L"\"C:\\elsewhere\\KvRxCoreService.exe\""); },
         {"its local server is \"C:\\elsewhere\\KvRxCoreService.exe\", not \"" + ascii(exe) + "\""}, register_mend,
         register_again},
        // RegDeleteTreeW with a subkey name removes that key itself too.
        {"class", [] { return RegDeleteTreeW(HKEY_CLASSES_ROOT, (class_key + L"\\ProgID").c_str()) == ERROR_SUCCESS; },
         {"HKCR\\" + ascii(class_key) + "\\ProgID (default) is missing"}, register_mend, register_again},
        {"ProgIDs", [] { return RegDeleteKeyW(HKEY_CLASSES_ROOT, L"RxCoreService.RX_core_service_disp\\CurVer") == ERROR_SUCCESS; },
         {"HKCR\\RxCoreService.RX_core_service_disp\\CurVer (default) is missing"}, register_mend, register_again},
        {"type library", [] { return set_default(type_library_file_key, L"C:\\windows\\system32\\kernel32.dll"); },
         {"it is registered from C:\\windows\\system32\\kernel32.dll, not " + ascii(exe),
          "C:\\windows\\system32\\kernel32.dll holds no type library"},
         register_mend, register_again},
        {"service configuration", misconfigure_service,
         {"its type is 32, not own process (16)", "it runs as NT AUTHORITY\\LocalService, not LocalSystem",
          "it runs \"C:\\elsewhere\\KvRxCoreService.exe\", not \"" + ascii(exe) + "\""},
         register_mend, register_again},
        {"manager component", [] { return set_default(manager_server_key, L"C:\\nowhere\\kv_manager.dll"); },
         {"its server C:\\nowhere\\kv_manager.dll does not exist"}, "mend: reinstall the manager component",
         [] { return SUCCEEDED(doubles::register_double(doubles::manager_double_dll)); }},
        {"manager component", [] { return SUCCEEDED(doubles::unregister_double(doubles::manager_double_dll)); },
         {"the class {8E033063-C1D5-43E1-964C-F92AFBD11556} is not registered"}, "mend: reinstall the manager component",
         [] { return SUCCEEDED(doubles::register_double(doubles::manager_double_dll)); }},
        {"vault device", vault_double::stop, {"\\\\.\\QlnVSROV cannot be opened (error 2", "); the vault driver is not running"},
         "mend: start the vault driver", vault_double::start},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(row.break_it()) << row.check << ", to show: " << row.problems.front();
        rxctl_result r = run_rxctl(doctor);
        EXPECT_EQ(r.exit_code, 1u) << r.out;
        const std::string line = line_of(r.out, row.check);
        EXPECT_EQ(line.rfind("FAIL  " + std::string(row.check) + ": ", 0), 0u) << r.out;
        for (const std::string& problem : row.problems) EXPECT_NE(line.find(problem), std::string::npos) << line;
        EXPECT_NE(line.find("; " + row.mend), std::string::npos) << line;
        // Only the broken piece fails (the service was never started).
        for (const std::string& name : check_names) {
            if (name == row.check || name == "service running" || name == "start event") continue;
            EXPECT_NE(verdict_of(r.out, name), "FAIL") << row.check << " broken, " << name << " in:\n" << r.out;
        }
        ASSERT_TRUE(row.mend_it()) << row.check;
        r = run_rxctl(doctor);
        EXPECT_EQ(verdict_of(r.out, row.check), "OK  ") << row.check << " mended:\n" << r.out;
    }

    // The executable named wrongly: it and everything that should point at it.
    const rxctl_result r = run_rxctl(L"doctor --exe C:\\nowhere\\KvRxCoreService.exe");
    EXPECT_EQ(r.exit_code, 1u);
    EXPECT_EQ(line_of(r.out, "executable").rfind("FAIL  executable: C:\\nowhere\\KvRxCoreService.exe does not exist", 0), 0u)
        << r.out;
    for (const char* name : {"service configuration", "class", "type library"})
        EXPECT_EQ(verdict_of(r.out, name), "FAIL") << name << " in:\n" << r.out;
    EXPECT_NE(line_of(r.out, "class").find("mend: reinstall the package (C:\\nowhere\\KvRxCoreService.exe does not exist)"),
              std::string::npos);
    // A mend never names a program other than the product's own.
    const rxctl_result other = run_rxctl(L"doctor /EXE C:\\windows\\notepad.exe");
    EXPECT_EQ(other.out.find("notepad.exe\" -Service"), std::string::npos) << other.out;
    EXPECT_NE(line_of(other.out, "class").find("mend: reinstall the package (C:\\windows\\notepad.exe is not "
                                               "KvRxCoreService.exe)"),
              std::string::npos)
        << other.out;
}

// The two states no single broken key gives: a service whose manager never started (its
// start event exists, unsignalled), and a machine where nothing is registered any more.
TEST(DoctorCommand, AManagerThatNeverStartedThenNothingRegistered) {
    service_host_test::registered_service service;
    ASSERT_TRUE(service.ready());
    const std::wstring exe = registration_test::service_exe();
    const std::wstring doctor = L"doctor --exe \"" + exe + L"\"";
    const std::string register_mend = "mend: \"" + ascii(exe) + "\" -Service";

    ASSERT_TRUE(manager_double::set_start_failure(E_ACCESSDENIED));
    ASSERT_TRUE(service_host_test::start_service());
    // The failure is traced before the service could signal the event: wait for it.
    bool manager_failed = false;
    for (int i = 0; i < 300 && !manager_failed; ++i) {
        manager_failed = trace_test::read_trace_text().find(L"Failed to start manager!") != std::wstring::npos;
        if (!manager_failed) Sleep(100);
    }
    ASSERT_TRUE(manager_failed);
    rxctl_result r = run_rxctl(doctor);
    EXPECT_EQ(r.exit_code, 1u) << r.out;
    EXPECT_EQ(verdict_of(r.out, "service running"), "OK  ") << r.out;
    EXPECT_EQ(line_of(r.out, "start event").rfind("FAIL  start event: Global\\{10C9DE46-185B-4434-8E1B-E7567E1134F5} "
                                                  "is not signalled: the manager component has not started; "
                                                  "mend: rxctl trace on, net stop QlnVxCoreService",
                                                  0),
              0u)
        << r.out;
    ASSERT_TRUE(service_host_test::stop_service());
    ASSERT_TRUE(manager_double::clear_start_failure());

    ASSERT_EQ(registration_test::run(exe, L"-UnregServer"), 0u);
    r = run_rxctl(doctor);
    EXPECT_EQ(r.exit_code, 1u) << r.out;
    const struct {
        const char* check;
        std::string shows;  // the start of the line after "FAIL  NAME: "
    } rows[] = {
        {"service configuration", "the service QlnVxCoreService is not installed; " + register_mend},
        {"AppID", "HKCR\\" + ascii(app_id_key) + " is missing; " + register_mend},
        {"class", "HKCR\\" + ascii(class_key) + " is missing; " + register_mend},
        {"ProgIDs", "HKCR\\RxCoreService.RX_core_service_disp.1 (default) is missing"},
        {"type library", "HKCR\\" + ascii(type_library_file_key) + " is missing; " + register_mend},
        {"service running", "not installed; " + register_mend + ", then net start QlnVxCoreService"},
        {"start event", "Global\\{10C9DE46-185B-4434-8E1B-E7567E1134F5} is absent"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(line_of(r.out, row.check).rfind("FAIL  " + std::string(row.check) + ": " + row.shows, 0), 0u)
            << row.check << " in:\n" << r.out;
    }
    for (const char* name : {"executable", "manager component", "vault device"})
        EXPECT_EQ(verdict_of(r.out, name), "OK  ") << name << " in:\n" << r.out;
}

}  // namespace
