// The registration verbs of KvRxCoreService.exe, run as a separate process in the test
// prefix: the keys, the service and the exit codes they leave. Each test starts from and
// leaves a prefix without the program's registration.
#include <gtest/gtest.h>


#include "foundation/unique_resource_win.h"
#include "service/tests/registration_support_win.h"

namespace {
using namespace registration_test;

// The program copied into a folder of the temporary directory named `folder_name` and
// this process's id; both go when the copy does.
class executable_copy {
public:
    executable_copy(const std::wstring& exe, const wchar_t* folder_name) {
        wchar_t temp[MAX_PATH];
        if (GetTempPathW(MAX_PATH, temp) == 0) return;
        folder_ = std::wstring(temp) + folder_name + std::to_wstring(GetCurrentProcessId());
        path_ = folder_ + L"\\KvRxCoreService.exe";
        made_ = CreateDirectoryW(folder_.c_str(), nullptr) && CopyFileW(exe.c_str(), path_.c_str(), FALSE);
    }
    ~executable_copy() {
        DeleteFileW(path_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    executable_copy(const executable_copy&) = delete;
    executable_copy& operator=(const executable_copy&) = delete;
    bool made() const { return made_; }
    const std::wstring& path() const { return path_; }

private:
    std::wstring folder_, path_;
    bool made_ = false;
};

struct expected_value {
    std::wstring key;
    const wchar_t* name;  // null: the default value
    std::wstring data;
};

// Every tabled key and value, for the executable at `exe`.
std::vector<expected_value> registration_table(const std::wstring& exe) {
    const std::wstring clsid_key = std::wstring(L"CLSID\\") + class_id;
    return {
        {std::wstring(L"AppID\\") + app_id, nullptr, L"RxCoreService"},
        {L"AppID\\KvRxCoreService.EXE", L"AppID", app_id},
        {L"RxCoreService.RX_core_service_disp.1", nullptr, L"RX_core_service_disp Class"},
        {L"RxCoreService.RX_core_service_disp.1\\CLSID", nullptr, class_id},
        {L"RxCoreService.RX_core_service_disp", nullptr, L"RX_core_service_disp Class"},
        {L"RxCoreService.RX_core_service_disp\\CLSID", nullptr, class_id},
        {L"RxCoreService.RX_core_service_disp\\CurVer", nullptr, L"RxCoreService.RX_core_service_disp.1"},
        {clsid_key, nullptr, L"RX_core_service_disp Class"},
        {clsid_key, L"AppID", app_id},
        {clsid_key + L"\\ProgID", nullptr, L"RxCoreService.RX_core_service_disp.1"},
        {clsid_key + L"\\VersionIndependentProgID", nullptr, L"RxCoreService.RX_core_service_disp"},
        {clsid_key + L"\\LocalServer32", nullptr, L"\"" + exe + L"\""},
        {clsid_key + L"\\TypeLib", nullptr, L"{E525C81A-0535-4FC4-B5DE-7F1FFA97266F}"},
        {std::wstring(type_library_key) + L"\\1.0", nullptr, L"RxCoreService 1.0 Type Library"},
        {std::wstring(type_library_key) + L"\\1.0\\409\\win64", nullptr, exe},
    };
}

void expect_registered(HKEY classes, const std::wstring& exe) {
    for (const expected_value& v : registration_table(exe))
        EXPECT_EQ(string_value(classes, v.key, v.name), v.data) << testing::PrintToString(v.key);
    const std::wstring clsid_key = std::wstring(L"CLSID\\") + class_id;
    EXPECT_TRUE(key_exists(classes, clsid_key + L"\\Programmable"));
    EXPECT_TRUE(key_exists(classes, interface_key));
}

void expect_unregistered(HKEY classes) {
    for (const std::wstring& key : registration_keys()) EXPECT_FALSE(key_exists(classes, key)) << testing::PrintToString(key);
}

std::optional<std::wstring> local_service(HKEY classes) {
    return string_value(classes, std::wstring(L"AppID\\") + app_id, L"LocalService");
}

class RegistrationVerbs : public ::testing::Test {
protected:
    void SetUp() override { clean_prefix(); }
    void TearDown() override {
        clean_prefix();
        expect_unregistered(HKEY_CLASSES_ROOT);
        expect_unregistered(user_classes_.get());
        EXPECT_FALSE(service_present(service_name));
    }
    void clean_prefix() {
        EXPECT_TRUE(remove_service(service_name));
        delete_registration_keys(HKEY_CLASSES_ROOT);
        delete_registration_keys(user_classes_.get());
    }
    const std::wstring exe_ = service_exe();
    const unique_hkey user_classes_ = user_classes();
};

TEST_F(RegistrationVerbs, RegServerWritesTheTablesAndUnregServerRemovesThem) {
    ASSERT_EQ(run(exe_, L"/RegServer"), static_cast<DWORD>(S_OK));
    expect_registered(HKEY_CLASSES_ROOT, exe_);
    EXPECT_EQ(local_service(HKEY_CLASSES_ROOT), std::nullopt);
    EXPECT_FALSE(service_present(service_name));
    expect_unregistered(user_classes_.get());

    ASSERT_EQ(run(exe_, L"-UnregServer"), static_cast<DWORD>(S_OK));
    expect_unregistered(HKEY_CLASSES_ROOT);
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, L"AppID"));
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, L"CLSID"));
}

TEST_F(RegistrationVerbs, PerUserVerbsWorkUnderTheUsersClasses) {
    ASSERT_EQ(run(exe_, L"-RegServerPerUser"), static_cast<DWORD>(S_OK));
    expect_registered(user_classes_.get(), exe_);
    expect_unregistered(HKEY_CLASSES_ROOT);

    ASSERT_EQ(run(exe_, L"-UnregServerPerUser"), static_cast<DWORD>(S_OK));
    expect_unregistered(user_classes_.get());
    EXPECT_TRUE(key_exists(user_classes_.get(), L"AppID"));
    EXPECT_TRUE(key_exists(user_classes_.get(), L"CLSID"));
}

TEST_F(RegistrationVerbs, ServiceInstallsTheServiceAndUnregServerDeletesIt) {
    ASSERT_EQ(run(exe_, L"-Service"), static_cast<DWORD>(S_OK));
    expect_registered(HKEY_CLASSES_ROOT, exe_);
    EXPECT_EQ(local_service(HKEY_CLASSES_ROOT), std::wstring(service_name));

    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_sc_handle service(OpenServiceW(manager.get(), service_name, SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service);
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                    static_cast<DWORD>(buffer.size()), &needed));
    const auto& config = *reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
    EXPECT_EQ(config.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config.dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config.dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(std::wstring(config.lpBinaryPathName), L"\"" + exe_ + L"\"");
    EXPECT_EQ(std::wstring(config.lpDisplayName), service_name);
    EXPECT_EQ(std::wstring(config.lpServiceStartName), L"LocalSystem");
    EXPECT_EQ(std::wstring(config.lpLoadOrderGroup ? config.lpLoadOrderGroup : L""), L"");
    service.reset();
    // The platform's configuration read-back leaves the dependencies out: read the key.
    const std::wstring service_key = std::wstring(L"System\\CurrentControlSet\\Services\\") + service_name;
    wchar_t dependencies[64] = {};
    DWORD bytes = sizeof dependencies;
    DWORD type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, service_key.c_str(), L"DependOnService", RRF_RT_REG_MULTI_SZ, &type,
                           dependencies, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(dependencies, bytes / sizeof(wchar_t)), std::wstring(L"RPCSS\0\0", 7));

    ASSERT_EQ(run(exe_, L"-UnregServer"), static_cast<DWORD>(S_OK));
    EXPECT_TRUE(wait_until_service_gone(service_name, 10000));
    expect_unregistered(HKEY_CLASSES_ROOT);
}

TEST_F(RegistrationVerbs, RegServerTurnsAServiceBackIntoALocalServer) {
    ASSERT_EQ(run(exe_, L"-Service"), static_cast<DWORD>(S_OK));
    ASSERT_EQ(run(exe_, L"-RegServer -Service"), static_cast<DWORD>(S_OK));
    EXPECT_TRUE(wait_until_service_gone(service_name, 10000));
    EXPECT_EQ(local_service(HKEY_CLASSES_ROOT), std::nullopt);
    expect_registered(HKEY_CLASSES_ROOT, exe_);
}

TEST_F(RegistrationVerbs, ServiceOnARunningServiceEndsWithTheServiceRegisteredAgain) {
    const std::wstring old_command = L"\"" + test_service_exe() + L"\" slow-stop 1500";
    ASSERT_TRUE(create_and_start(service_name, old_command));
    ASSERT_EQ(run(exe_, L"-Service"), static_cast<DWORD>(S_OK));
    ASSERT_TRUE(service_present(service_name));
    EXPECT_EQ(service_state(service_name), static_cast<DWORD>(SERVICE_STOPPED)) << "the old one has stopped";
    EXPECT_EQ(string_value(HKEY_LOCAL_MACHINE,
                           std::wstring(L"System\\CurrentControlSet\\Services\\") + service_name, L"ImagePath"),
              L"\"" + exe_ + L"\"");
    EXPECT_EQ(local_service(HKEY_CLASSES_ROOT), std::wstring(service_name));
}

// Unregistration removes whatever is still there, whatever is already gone: a half-done
// install can be cleaned with the program's own command, and what was missing is no failure.
TEST_F(RegistrationVerbs, UnregServerRemovesEverythingLeftOfAHalfDoneInstall) {
    const std::wstring app_id_key = std::wstring(L"AppID\\") + app_id;
    const std::wstring class_key = std::wstring(L"CLSID\\") + class_id;
    const struct {
        const char* what;
        const wchar_t* verb;                   // how it was installed
        std::vector<std::wstring> gone;        // keys removed by hand since
        bool service_gone;                     // the service deleted by hand since
    } rows[] = {
        {"nothing registered at all", nullptr, {}, false},
        {"the type library's registration gone", L"-Service", {type_library_key, interface_key}, false},
        {"the AppID gone", L"-Service", {app_id_key}, false},
        {"the class and its ProgIDs gone", L"-Service",
         {class_key, L"RxCoreService.RX_core_service_disp", L"RxCoreService.RX_core_service_disp.1"}, false},
        {"the service gone", L"-Service", {}, true},
        {"only the AppID left", L"-RegServer",
         {class_key, type_library_key, interface_key, L"RxCoreService.RX_core_service_disp",
          L"RxCoreService.RX_core_service_disp.1"}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.verb != nullptr) {
            ASSERT_EQ(run(exe_, row.verb), static_cast<DWORD>(S_OK));
        }
        for (const std::wstring& key : row.gone) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
            RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        }
        if (row.service_gone) {
            ASSERT_TRUE(remove_service(service_name));
        }
        EXPECT_EQ(run(exe_, L"-UnregServer"), static_cast<DWORD>(S_OK));
        expect_unregistered(HKEY_CLASSES_ROOT);
        EXPECT_TRUE(wait_until_service_gone(service_name, 10000));
        clean_prefix();
    }
}

// Answers every message box the program at `process` shows with the service name as its
// caption, until the process has ended: a failed install shows one, and nobody is there.
void answer_boxes_until_ended(HANDLE process) {
    while (WaitForSingleObject(process, 20) == WAIT_TIMEOUT)
        if (HWND box = FindWindowW(L"#32770", service_name)) PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// A -Service that fails after the old service is gone leaves no "LocalService" behind:
// COM would otherwise try to start a service that does not exist for every activation.
// Another service showing the service's name as its display name makes the creation fail;
// "LocalService" is still there from the earlier install.
TEST_F(RegistrationVerbs, AFailedServiceInstallLeavesNoLocalServiceBehind) {
    constexpr wchar_t other_service[] = L"KvDisplayNameTaken";
    ASSERT_EQ(run(exe_, L"-Service"), static_cast<DWORD>(S_OK));
    ASSERT_EQ(local_service(HKEY_CLASSES_ROOT), std::wstring(service_name));
    // The name is free again (a service's display name may not be another's name).
    ASSERT_TRUE(remove_service(service_name));
    {
        const unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        const std::wstring command = L"\"" + test_service_exe() + L"\" slow-stop 0";
        const unique_sc_handle other(CreateServiceW(manager.get(), other_service, service_name, SERVICE_ALL_ACCESS,
                                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                    SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                                    nullptr, nullptr));
        ASSERT_TRUE(other) << GetLastError();
    }

    std::wstring command = L"\"" + exe_ + L"\" -Service";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(exe_.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &info));
    const unique_handle process(info.hProcess), thread(info.hThread);
    answer_boxes_until_ended(process.get());
    DWORD code = ~0u;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, static_cast<DWORD>(E_FAIL)) << std::hex << code;
    EXPECT_FALSE(service_present(service_name)) << "the old service is gone and no new one was made";
    EXPECT_EQ(local_service(HKEY_CLASSES_ROOT), std::nullopt) << "no value names a service that does not exist";

    EXPECT_TRUE(remove_service(other_service));
    EXPECT_EQ(run(exe_, L"-UnregServer"), static_cast<DWORD>(S_OK));
}

// Installed in a folder whose name holds a verb, the service starts as the service: the
// verbs are looked for after the program's own path only.
TEST_F(RegistrationVerbs, AServiceInAFolderNamedLikeAVerbRuns) {
    const executable_copy program(exe_, L"kv -Service tree ");
    ASSERT_TRUE(program.made());
    const std::wstring& copy = program.path();
    ASSERT_EQ(run(copy, L"-Service"), static_cast<DWORD>(S_OK));
    expect_registered(HKEY_CLASSES_ROOT, copy);

    {
        unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        unique_sc_handle service(OpenServiceW(manager.get(), service_name, SERVICE_START | SERVICE_STOP));
        ASSERT_TRUE(service);
        ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
        bool running = false;
        for (int tries = 0; tries < 1500 && !running; ++tries) {
            running = service_state(service_name) == SERVICE_RUNNING;
            if (!running) Sleep(20);
        }
        EXPECT_TRUE(running) << "it runs instead of registering itself again";
        SERVICE_STATUS status{};
        EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    }
    EXPECT_EQ(run(copy, L"-UnregServer"), static_cast<DWORD>(S_OK));
    EXPECT_TRUE(wait_until_service_gone(service_name, 30000));
}

TEST_F(RegistrationVerbs, APathWithASingleQuoteIsRegisteredAsItIs) {
    const executable_copy program(exe_, L"kv'reg ");
    ASSERT_TRUE(program.made());
    EXPECT_EQ(run(program.path(), L"-RegServer"), static_cast<DWORD>(S_OK));
    expect_registered(HKEY_CLASSES_ROOT, program.path());
    EXPECT_EQ(run(program.path(), L"-UnregServer"), static_cast<DWORD>(S_OK));
}

// The scripts and the type library prove themselves through the registration above.
TEST(ServiceExecutable, CarriesItsServiceNameAndMessageTable) {
    const std::wstring exe = service_exe();
    const unique_hmodule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);

    wchar_t name[256] = {};
    EXPECT_EQ(LoadStringW(module.get(), 100, name, 256), 16);
    EXPECT_STREQ(name, L"QlnVxCoreService");

    wchar_t* text = nullptr;
    ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_ALLOCATE_BUFFER,
                             module.get(), 0, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr),
              0u);
    unique_hlocal text_owner(text);
    EXPECT_STREQ(text, L"%1.\r\n");
}

}  // namespace
