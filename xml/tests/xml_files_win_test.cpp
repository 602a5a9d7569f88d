// Loading and saving through real files in the Wine prefix: the byte-order-mark branch,
// 8-bit files with and without a UTF-8 declaration, empty and missing files, handles.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/unique_resource_win.h"
#include "tests/support/test_files_win.h"
#include "xml_test_support.h"

namespace {
std::wstring temp_path(const wchar_t* name) { return test_files::temporary_path(L"kvxml", name); }

void write_file(const std::wstring& path, const bytes& content) { ASSERT_TRUE(test_files::write(path, content)); }

bytes read_file(const std::wstring& path) { return test_files::read(path).value_or(bytes()); }

class XmlFiles : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& p : made_) DeleteFileW(p.c_str());
    }
    std::wstring file(const wchar_t* name, const bytes& content) {
        std::wstring p = temp_path(name);
        write_file(p, content);
        made_.push_back(p);
        return p;
    }
    std::wstring path(const wchar_t* name) {
        made_.push_back(temp_path(name));
        return made_.back();
    }
    std::vector<std::wstring> made_;
};
}  // namespace

TEST_F(XmlFiles, Utf16WithByteOrderMarkLoads) {
    doc_ptr doc = new_doc();
    const std::wstring p = file(L"u16.xml", utf16le(u"<?xml version='1.0'?><a t='\x4E2D'>\x00E9\xD83D\xDE00</a>"));
    ASSERT_EQ(1, doc->load_from_file(p.c_str()));
    EXPECT_EQ("?xml[version=1.0]{a[t=\\u4E2D]\"\\u00E9\\uD83D\\uDE00\"}", dump(doc->get_root()));
}

TEST_F(XmlFiles, Utf16OddLastByteIsDropped) {
    bytes content = utf16le(u"<a>x</a>");
    content.push_back('<');
    doc_ptr doc = new_doc();
    ASSERT_EQ(1, doc->load_from_file(file(L"odd.xml", content).c_str()));
    EXPECT_EQ("?xml[version=1.0]{a\"x\"}", dump(doc->get_root()));
}

TEST_F(XmlFiles, EightBitFilesUseTheDeclaredUtf8OrTheAnsiCodePage) {
    // E9 is e-acute in the ANSI code page (1252 here); C3 A9 is e-acute in UTF-8.
    wchar_t ansi_e9[2] = {};
    MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, ansi_e9, 1);
    wchar_t ansi_c3[2] = {}, ansi_a9[2] = {};
    MultiByteToWideChar(CP_ACP, 0, "\xC3", 1, ansi_c3, 1);
    MultiByteToWideChar(CP_ACP, 0, "\xA9", 1, ansi_a9, 1);
    const std::string as_ansi_pair = narrow(ansi_c3) + narrow(ansi_a9);
    struct row { const char* content; std::string text; };
    const row rows[] = {
        {"<?xml version='1.0' encoding='UTF-8'?><a>\xC3\xA9</a>", "\\u00E9"},
        {"<?xml version='1.0' encoding='utf-8'?><a>\xC3\xA9</a>", "\\u00E9"},
        {"<a>\xE9</a>", narrow(ansi_e9)},
        {"<a>\xC3\xA9</a>", as_ansi_pair},  // no declaration: ANSI
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a>\xC3\xA9</a>", as_ansi_pair},
        {"<?xml encoding='UTF-8' version='1.0'?><a>\xC3\xA9</a>", "\\u00E9"},
        {"\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?><a>\xC3\xA9</a>", "\\u00E9"},
        {"\xEF\xBB\xBF<a>x</a>", "x"},  // a UTF-8 mark read as ANSI is text before the element
    };
    int i = 0;
    for (const row& r : rows) {
        doc_ptr doc = new_doc();
        const std::wstring p = file((L"8bit" + std::to_wstring(i++) + L".xml").c_str(), text_bytes(r.content));
        ASSERT_EQ(1, doc->load_from_file(p.c_str())) << r.content;
        KV_xml_node* a = doc->get_root()->find_descendant(X("a").c_str());
        ASSERT_NE(nullptr, a) << r.content;
        EXPECT_EQ(r.text, narrow(a->get_text())) << r.content;
    }
}

TEST_F(XmlFiles, FailedLoadsBeforeParsingLeaveTheDocumentUntouched) {
    doc_ptr doc = new_doc();
    ASSERT_EQ(1, doc->load_from_string(X("<keep/>").c_str()));
    EXPECT_EQ(0, doc->load_from_file(file(L"empty.xml", {}).c_str()));
    EXPECT_EQ(0, doc->load_from_file(path(L"missing.xml").c_str()));
    EXPECT_EQ(0, doc->load_from_handle(INVALID_HANDLE_VALUE));
    EXPECT_EQ("?xml[version=1.0]{keep}", dump(doc->get_root()));
}

TEST_F(XmlFiles, MalformedFileKeepsTheCompleteTopLevelElements) {
    doc_ptr doc = new_doc();
    EXPECT_EQ(0, doc->load_from_file(file(L"bad.xml", text_bytes("<a x='1'/><b><c/></b><d><e>")).c_str()));
    EXPECT_EQ("?xml[version=1.0]{a[x=1],b{c}}", dump(doc->get_root()));
}

TEST_F(XmlFiles, SaveWritesUtf16WithByteOrderMarkAndReadsBack) {
    doc_ptr doc = new_doc();
    ASSERT_EQ(1, doc->load_from_string(
                     X("<?xml version='1.0' encoding='UTF-8'?><f name='x'><v>a &amp; b</v></f>").c_str()));
    const std::wstring p = path(L"saved.xml");
    ASSERT_EQ(1, doc->save_to_file(p.c_str()));
    const bytes saved = read_file(p);
    const xml_string text = serialize(doc.get());
    EXPECT_EQ(utf16le(std::u16string(text.begin() + 1, text.end())), saved);
    doc_ptr again = new_doc();
    ASSERT_EQ(1, again->load_from_file(p.c_str()));
    EXPECT_EQ(dump(doc->get_root()), dump(again->get_root()));
    // Saving again replaces the file.
    doc->create_new();
    ASSERT_EQ(1, doc->save_to_file(p.c_str()));
    EXPECT_EQ(utf16le(u"<?xml version=\"1.0\"?>"), read_file(p));
}

TEST_F(XmlFiles, EmptyDocumentSavesNothing) {
    doc_ptr doc = new_doc();
    const std::wstring p = path(L"never.xml");
    EXPECT_EQ(0, doc->save_to_file(p.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(p.c_str()));
    EXPECT_EQ(0, doc->save_to_handle(INVALID_HANDLE_VALUE));
    doc->create_new();
    EXPECT_EQ(0, doc->save_to_handle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(0, doc->save_to_file(L"Z:\\no\\such\\folder\\x.xml"));
}

TEST_F(XmlFiles, HandlesAreReadFromTheStartAndWrittenAtTheirPosition) {
    const std::wstring p = file(L"handle.xml", text_bytes("prefix"));
    unique_file f(CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f);
    SetFilePointer(f.get(), 0, nullptr, FILE_END);
    doc_ptr doc = new_doc();
    doc->create_new();
    ASSERT_EQ(1, doc->save_to_handle(f.get()));
    bytes expected = text_bytes("prefix");
    const bytes decl = utf16le(u"<?xml version=\"1.0\"?>");
    expected.insert(expected.end(), decl.begin(), decl.end());
    f.reset();
    EXPECT_EQ(expected, read_file(p));

    // load_from_handle rewinds first: a handle positioned at the end still loads.
    const std::wstring q = file(L"rewind.xml", utf16le(u"<a/>"));
    unique_file g(CreateFileW(q.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    SetFilePointer(g.get(), 0, nullptr, FILE_END);
    doc_ptr loaded = new_doc();
    EXPECT_EQ(1, loaded->load_from_handle(g.get()));
    EXPECT_EQ("?xml[version=1.0]{a}", dump(loaded->get_root()));
}

TEST_F(XmlFiles, PipeWithoutSizeDoesNotLoad) {
    HANDLE read_end = nullptr, write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
    unique_handle r(read_end), w(write_end);
    DWORD written = 0;
    WriteFile(w.get(), "<a/>", 4, &written, nullptr);
    doc_ptr doc = new_doc();
    EXPECT_EQ(0, doc->load_from_handle(r.get()));
    EXPECT_EQ(nullptr, doc->get_root());
}
