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
        // Every '-' or '/' after the program's path starts a token, inside words too.
        {L"svc.exe --RegServer", verb::reg_server},
        {L"svc.exe x-RegServer", verb::reg_server},
        // The program's path is never searched: quoted up to its closing quote, unquoted
        // up to the first space or tab.
        {L"C:\\tools/RegServer", verb::none},
        {L"C:\\tools/RegServer -Service", verb::service},
        {L"C:\\tools-RegServer\\svc.exe", verb::none},
        {L"\"C:\\a -Service b\\svc.exe\"", verb::none},
        {L"\"C:\\a -Service b\\svc.exe\" -Embedding", verb::none},
        {L"\"C:\\a -Service b\\svc.exe\" -RegServer", verb::reg_server},
        {L"\"C:\\a -Service b\\svc.exe\"-RegServer", verb::reg_server},
        {L"  \"C:\\kv /RegServer\\svc.exe\"", verb::none},
        {L"\"C:\\unterminated -Service", verb::none},
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

// An unquoted path with spaces is known only when the program's own path is given.
TEST(RegistrationVerb, AnUnquotedProgramPathIsSkippedWhenItIsTheProgramsOwn) {
    struct Case {
        const wchar_t* line;
        const wchar_t* program;
        verb expected;
    };
    const wchar_t* const program = L"C:\\kv -Service tree\\svc.exe";
    const Case cases[] = {
        {L"C:\\kv -Service tree\\svc.exe", program, verb::none},
        {L"c:\\KV -service TREE\\SVC.EXE -Embedding", program, verb::none},
        {L"C:\\kv -Service tree\\svc.exe -UnregServer", program, verb::unreg_server},
        {L"C:\\kv -Service tree\\svc.exe\t/Service", program, verb::service},
        {L"\"C:\\kv -Service tree\\svc.exe\"", program, verb::none},
        // Not the program's path: it ends at the first space.
        {L"C:\\kv -Service tree\\other.exe", program, verb::service},
        {L"C:\\kv -Service tree\\svc.exex", program, verb::service},
        {L"C:\\kv -Service tree\\svc.exe", L"", verb::service},
        {L"C:\\kv -Service tree\\svc.exe", nullptr, verb::service},
    };
    for (const Case& c : cases)
        EXPECT_EQ(find_registration_verb(c.line, c.program), c.expected) << testing::PrintToString(c.line);
}

}  // namespace
