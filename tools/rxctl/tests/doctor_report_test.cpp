// The lines of rxctl doctor, which scripts grep.
#include "tools/rxctl/doctor_report.h"

#include <gtest/gtest.h>

namespace {

TEST(DoctorReport, OneLinePerCheckWithItsVerdictFirst) {
    doctor::check ok{doctor::verdict::ok, "AppID", "{X}, LocalService = S", {}, ""};
    doctor::check info{doctor::verdict::info, "tracing", "off", {}, ""};
    doctor::check failed;
    failed.name = "class";
    failed.mend = "\"C:\\p\\KvRxCoreService.exe\" -Service";
    failed.problem("HKCR\\CLSID\\{X}\\ProgID is missing");
    failed.problem("its local server is \"C:\\q.exe\"");
    EXPECT_EQ(doctor::line_of(ok), "OK    AppID: {X}, LocalService = S\n");
    EXPECT_EQ(doctor::line_of(info), "INFO  tracing: off\n");
    EXPECT_EQ(doctor::line_of(failed),
              "FAIL  class: HKCR\\CLSID\\{X}\\ProgID is missing; its local server is \"C:\\q.exe\"; "
              "mend: \"C:\\p\\KvRxCoreService.exe\" -Service\n");
    EXPECT_TRUE(doctor::all_passed({ok, info}));
    EXPECT_FALSE(doctor::all_passed({ok, failed, info}));
    // The same for scripts: quotes, backslashes and control characters escaped.
    info.detail = "a\tb\x01";
    EXPECT_EQ(doctor::json_of({info, failed}),
              "{\"passed\":false,\"checks\":[{\"verdict\":\"INFO\",\"name\":\"tracing\",\"detail\":\"a\\tb\\u0001\"},"
              "{\"verdict\":\"FAIL\",\"name\":\"class\",\"problems\":[\"HKCR\\\\CLSID\\\\{X}\\\\ProgID is missing\","
              "\"its local server is \\\"C:\\\\q.exe\\\"\"],\"mend\":\"\\\"C:\\\\p\\\\KvRxCoreService.exe\\\" -Service\"}]}\n");
}

}  // namespace
