// rxctl xml end to end: real files in the prefix, rxctl.exe started as a child process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_files_win.h"
#include "tools/rxctl/tests/rxctl_runner_win.h"

namespace {
std::wstring temp_file(const wchar_t* name) { return test_files::temporary_path(L"rxctl_xml", name); }

void write_bytes(const std::wstring& path, const std::string& text) {
    ASSERT_TRUE(test_files::write(path, text_bytes(text)));
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
    EXPECT_EQ(utf16le(u"<?xml version=\"1.0\"?>\r\n  <function name=\"x\"></function>\r\n"),
              test_files::read(out_));
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
    EXPECT_EQ(utf16le(u"<?xml version=\"1.0\"?>\r\n  <a>\r\n  </a>\r\n"), test_files::read(out_));
    r = run_rxctl(L"xml " + quote_arg(in_));
    EXPECT_EQ(1u, r.exit_code);
    EXPECT_EQ("<?xml version=\"1.0\"?>\r\n  <a>\r\n  </a>\r\n", r.out);
}

// A failed load says why: nested beyond the XML library's 256 levels, or not well-formed.
TEST_F(RxctlXml, AFailedLoadNamesItsReason) {
    std::string deep, limit, deep_utf16 = "\xFF\xFE";
    for (int i = 0; i < 257; ++i) deep += "<a>";
    for (int i = 0; i < 256; ++i) limit += "<!-- <x> --><a x='<b>'><c/>";
    for (const char c : deep) deep_utf16 += std::string{c, '\0'};
    const struct {
        std::string content;
        const char* reason;
    } rows[] = {
        {deep, "is nested deeper than 256 levels"},
        {deep_utf16, "is nested deeper than 256 levels"},
        {limit, "is not a well-formed XML document"},  // 256 open levels: only unclosed
        {"<a/><b>", "is not a well-formed XML document"},
    };
    for (const auto& row : rows) {
        write_bytes(in_, row.content);
        const rxctl_result r = run_rxctl(L"xml " + quote_arg(in_));
        EXPECT_EQ(1u, r.exit_code) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(row.reason)) << r.err;
    }
}

TEST_F(RxctlXml, EmptyFileFailsWithoutOutput) {
    write_bytes(in_, "");
    const rxctl_result r = run_rxctl(L"xml " + quote_arg(in_) + L" " + quote_arg(out_));
    EXPECT_EQ(1u, r.exit_code);
    EXPECT_EQ(std::nullopt, test_files::read(out_));
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
