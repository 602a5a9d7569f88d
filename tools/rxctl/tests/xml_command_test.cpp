// rxctl xml end to end: real files in the prefix, rxctl.exe started as a child process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/unique_resource_win.h"
#include "tools/rxctl/tests/rxctl_runner_win.h"

namespace {
std::wstring temp_file(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"rxctl_xml_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

void write_bytes(const std::wstring& path, const std::string& bytes) {
    unique_file f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string read_bytes(const std::wstring& path) {
    unique_file f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return "(missing)";
    std::string out(GetFileSize(f.get(), nullptr), '\0');
    DWORD got = 0;
    if (!out.empty()) ReadFile(f.get(), out.data(), static_cast<DWORD>(out.size()), &got, nullptr);
    out.resize(got);
    return out;
}

std::string utf16le_with_bom(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) { out.push_back(c); out.push_back('\0'); }
    return out;
}

std::wstring quote_arg(const std::wstring& s) { return L"\"" + s + L"\""; }

class RxctlXml : public ::testing::Test {
protected:
    void TearDown() override {
        DeleteFileW(in_.c_str());
        DeleteFileW(out_.c_str());
    }
    std::wstring in_ = temp_file(L"in.xml");
    std::wstring out_ = temp_file(L"out.xml");
};

}  // namespace

TEST_F(RxctlXml, SavesTheLoadedDocumentAsUtf16) {
    write_bytes(in_, "<function name='x'/>");
    const rxctl_result r = run_rxctl(L"xml " + quote_arg(in_) + L" " + quote_arg(out_));
    EXPECT_EQ(0u, r.exit_code) << r.err;
    EXPECT_EQ(utf16le_with_bom("<?xml version=\"1.0\"?>\r\n  <function name=\"x\"></function>\r\n"),
              read_bytes(out_));
}

TEST_F(RxctlXml, PrintsUtf8WithoutByteOrderMark) {
    write_bytes(in_, "<?xml version='1.0' encoding='UTF-8'?><function name='x'><arg>\xC3\xA9 &amp;amp;</arg></function>");
    const rxctl_result r = run_rxctl(L"xml " + quote_arg(in_));
    EXPECT_EQ(0u, r.exit_code) << r.err;
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n  <function name=\"x\">\r\n"
              "    <arg>\xC3\xA9 &amp;amp;</arg>\r\n  </function>\r\n",
              r.out);
}

TEST_F(RxctlXml, FailedLoadExitsOneAndKeepsTheCompleteElements) {
    write_bytes(in_, "<a/><b>");
    rxctl_result r = run_rxctl(L"xml " + quote_arg(in_) + L" " + quote_arg(out_));
    EXPECT_EQ(1u, r.exit_code);
    EXPECT_EQ(utf16le_with_bom("<?xml version=\"1.0\"?>\r\n  <a>\r\n  </a>\r\n"), read_bytes(out_));
    r = run_rxctl(L"xml " + quote_arg(in_));
    EXPECT_EQ(1u, r.exit_code);
    EXPECT_EQ("<?xml version=\"1.0\"?>\r\n  <a>\r\n  </a>\r\n", r.out);
}

TEST_F(RxctlXml, EmptyFileFailsWithoutOutput) {
    write_bytes(in_, "");
    const rxctl_result r = run_rxctl(L"xml " + quote_arg(in_) + L" " + quote_arg(out_));
    EXPECT_EQ(1u, r.exit_code);
    EXPECT_EQ("(missing)", read_bytes(out_));
}

TEST_F(RxctlXml, UsageAndUnreadableFilesExitTwo) {
    const std::wstring args[] = {L"xml", L"xml a b c", L"xml " + quote_arg(temp_file(L"missing.xml"))};
    for (const std::wstring& a : args) {
        const rxctl_result r = run_rxctl(a);
        EXPECT_EQ(2u, r.exit_code) << std::string(a.begin(), a.end());
        EXPECT_FALSE(r.err.empty());
        EXPECT_TRUE(r.out.empty());
    }
    write_bytes(in_, "<a/>");
    const rxctl_result r = run_rxctl(L"xml " + quote_arg(in_) + L" \"Z:\\no\\such\\folder\\out.xml\"");
    EXPECT_EQ(2u, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("cannot write"));
}
