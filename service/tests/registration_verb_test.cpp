// Which registration verb a command line selects.
#include "service/registration_verb.h"

#include <gtest/gtest.h>

namespace {

using verb = registration_verb;

TEST(RegistrationVerb, CommandLinesSelectTheirVerb) {
    struct Case {
        const wchar_t* line;
        verb expected;
    };
    const Case cases[] = {
        // Spelling, case and prefix.
        {L"svc.exe /regserver", verb::reg_server},
        {L"svc.exe -RegServer", verb::reg_server},
        {L"svc.exe -REGSERVER", verb::reg_server},
        {L"svc.exe /UnregServer", verb::unreg_server},
        {L"svc.exe -regserverperuser", verb::reg_server_per_user},
        {L"svc.exe /UNREGSERVERPERUSER", verb::unreg_server_per_user},
        {L"svc.exe -service", verb::service},
        {L"svc.exe /Service", verb::service},
        // A token ends at the end, a space or a tab, and nowhere else.
        {L"svc.exe -RegServer\t-x", verb::reg_server},
        {L"svc.exe -RegServer ", verb::reg_server},
        {L"svc.exe -RegServerX", verb::none},
        {L"svc.exe -Reg", verb::none},
        {L"svc.exe -RegServer/", verb::none},
        {L"svc.exe -Reg Server", verb::none},
        {L"svc.exe RegServer", verb::none},
        {L"svc.exe - RegServer", verb::none},
        {L"svc.exe -ServiceX", verb::none},
        // Every '-' or '/' starts a token, inside words and the program path too.
        {L"svc.exe --RegServer", verb::reg_server},
        {L"svc.exe x-RegServer", verb::reg_server},
        {L"C:\\tools/RegServer", verb::reg_server},
        {L"C:\\tools-RegServer\\svc.exe", verb::none},
        {L"\"C:\\a -Service b\\svc.exe\"", verb::service},
        // The four server verbs first, left to right; "Service" only when none of them.
        {L"svc.exe -Service -RegServer", verb::reg_server},
        {L"svc.exe -RegServer -UnregServer", verb::reg_server},
        {L"svc.exe -UnregServer -RegServer", verb::unreg_server},
        {L"svc.exe /Service /RegServerPerUser", verb::reg_server_per_user},
        {L"svc.exe -Service -Reg", verb::service},
        // Only ASCII letters fold: U+0131 (dotless i) is not an 'I'.
        {L"svc.exe -Serv\u0131ce", verb::none},
        // No verb.
        {L"svc.exe", verb::none},
        {L"svc.exe -Embedding", verb::none},
        {L"", verb::none},
        {L"-", verb::none},
        {L"/", verb::none},
    };
    for (const Case& c : cases) EXPECT_EQ(find_registration_verb(c.line), c.expected) << testing::PrintToString(c.line);
    EXPECT_EQ(find_registration_verb(nullptr), verb::none);
}

}  // namespace
