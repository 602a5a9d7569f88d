// rxctl call against KvRxCoreService.exe registered as a local server (COM starts it):
// the core command, envelopes from files in both encodings, failures and usage errors.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/support/test_files_win.h"
#include "tools/rxctl/tests/rxctl_runner_win.h"
#include "client/tests/local_server_fixture_win.h"

namespace {
using local_server_test::registered_local_server;

constexpr wchar_t agent_key[] = L"SOFTWARE\\Halvern\\Ostrand\\Agent";
constexpr wchar_t product_key[] = L"SOFTWARE\\Quillon\\Vessaro";

// Deletes the key, then each parent up to SOFTWARE that is left empty.
void remove_key(const wchar_t* key) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    std::wstring parent = key;
    for (parent.resize(parent.rfind(L'\\')); parent.find(L'\\') != std::wstring::npos;
         parent.resize(parent.rfind(L'\\'))) {
        if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, parent.c_str()) != ERROR_SUCCESS) break;  // not empty
    }
}

bool set_agent_guid(const std::wstring& guid) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, agent_key, L"AgentGUID", REG_SZ, guid.c_str(),
                           static_cast<DWORD>((guid.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::string value_document(const char* value) {
    return std::string("<?xml version=\"1.0\"?>\r\n  <value>") + value + "</value>\r\n";
}

// A file in the temporary-files directory, deleted with its owner.
class temporary_file {
public:
    temporary_file(const wchar_t* name, const bytes& content) : path_(test_files::temporary_path(L"rxctl_call", name)) {
        EXPECT_TRUE(test_files::write(path_, content));
    }
    ~temporary_file() { DeleteFileW(path_.c_str()); }
    temporary_file(const temporary_file&) = delete;
    temporary_file& operator=(const temporary_file&) = delete;
    std::wstring argument() const { return L"\"" + path_ + L"\""; }
private:
    std::wstring path_;
};

class CallCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.ready());
        remove_key(agent_key);
        remove_key(product_key);
    }
    void TearDown() override {
        remove_key(agent_key);
        remove_key(product_key);
    }
    registered_local_server server_;
};

TEST_F(CallCommand, CoreCommandAnswersFromTheRegistry) {
    ASSERT_TRUE(set_agent_guid(L"{A}"));
    rxctl_result r = run_rxctl(L"call core_has_agent_GUID_changed");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(r.out, "00000000\n" + value_document("false"));
    ASSERT_TRUE(set_agent_guid(L"{B}"));
    r = run_rxctl(L"call core_has_agent_GUID_changed --help");  // help asks nothing of the service
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(r.out.rfind("usage: rxctl call", 0), 0u) << r.out;
    r = run_rxctl(L"call core_has_agent_GUID_changed");
    EXPECT_EQ(r.out, "00000000\n" + value_document("true")) << r.err;
    r = run_rxctl(L"call core_has_agent_GUID_changed");
    EXPECT_EQ(r.out, "00000000\n" + value_document("false")) << r.err;
}

TEST_F(CallCommand, EnvelopeFilesInEitherEncodingReachTheManagerUnderTheGivenName) {
    const std::u16string text = u"<function name=\"other\"><arg kind=\"q&amp;a\">h\u00E9 \u20AC</arg></function>";
    const std::string utf8_text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                  "<function name=\"other\"><arg kind=\"q&amp;a\">h\xC3\xA9 \xE2\x82\xAC</arg></function>";
    const struct {
        const char* what;
        temporary_file file;
    } rows[] = {{"UTF-16LE with mark", {L"utf16.xml", utf16le(text)}},
                {"declared UTF-8", {L"utf8.xml", text_bytes(utf8_text)}}};
    for (const auto& row : rows) {
        const rxctl_result r = run_rxctl(L"call manager_echo --envelope " + row.file.argument());
        EXPECT_EQ(r.exit_code, 0u) << row.what << ": " << r.err;
        // The manager double echoes the envelope it got, which the service serialized again.
        EXPECT_EQ(r.out.rfind("00000000\n", 0), 0u) << row.what << ": " << r.out;
        EXPECT_NE(r.out.find("<function name=\"manager_echo\">"), std::string::npos) << row.what << ": " << r.out;
        EXPECT_NE(r.out.find("<arg kind=\"q&amp;a\">h\xC3\xA9 \xE2\x82\xAC</arg>"), std::string::npos)
            << row.what << ": " << r.out;
    }
}

TEST_F(CallCommand, StatusDecidesTheExitCode) {
    const struct {
        const wchar_t* name;
        std::string out_start;
        DWORD exit_code;
    } rows[] = {
        {L"core_no_such_command", "80070057\n", 1},   // refused by the core operations
        {L"manager_fail", "80040D01\n", 1},           // the manager's failure; its result dropped
        {L"manager_s_false", "00000001\n<?xml", 0},  // a success code passes through
        {L"manager_no_result", "00000000\n", 0},
    };
    for (const auto& row : rows) {
        const rxctl_result r = run_rxctl(std::wstring(L"call ") + row.name);
        EXPECT_EQ(r.exit_code, row.exit_code) << r.err;
        EXPECT_EQ(r.out.substr(0, row.out_start.size()), row.out_start) << r.out;
    }
    EXPECT_EQ(run_rxctl(L"call manager_no_result").out, "00000000\n") << "no result, nothing after the status";
    EXPECT_NE(run_rxctl(L"call core_no_such_command").err.find(
                  "the service refused the call: 80070057 (E_INVALIDARG: an argument was not valid); the service "
                  "could not read the envelope, or no core command has that name"),
              std::string::npos);
}

TEST(CallCommandAlone, UsageErrorsAndAnUnreachableServerExitTwo) {
    local_server_test::unregister_everything();
    const temporary_file malformed(L"malformed.xml", text_bytes("<function name=\"x\">"));
    const temporary_file no_function(L"no_function.xml", text_bytes("<call name=\"x\"/>"));
    std::string deep_text;
    for (int i = 0; i < 257; ++i) deep_text += "<a>";  // one level beyond the XML library's limit
    const temporary_file deep(L"deep.xml", text_bytes(deep_text));
    const struct {
        std::wstring args;
        const char* message;
    } rows[] = {
        {L"call", "usage: rxctl call"},
        {L"call a b", "usage: rxctl call"},
        {L"call a --envelope", "usage: rxctl call"},
        {L"call a --envelope Z:\\no\\such\\file.xml", "cannot read"},
        {L"call a --envelope " + malformed.argument(), "is not a well-formed XML document"},
        {L"call manager_echo", "80040154 (REGDB_E_CLASSNOTREG"},  // the class is not registered
        {L"call \"\"", "the function name is empty"},
        {L"call a --envelope " + no_function.argument(), "has no top-level \"function\" element"},
        {L"call a /ENVELOPE " + deep.argument(), "is nested deeper than 256 levels"},
    };
    for (const auto& row : rows) {
        const rxctl_result r = run_rxctl(row.args);
        EXPECT_EQ(r.exit_code, 2u) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    }
}

}  // namespace
