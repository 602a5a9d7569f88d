// The trace file as written under Wine: byte-order mark, line prefix and line-start
// rules, the exact line formats, system message texts, masking, the caller's last-error
// value, and writers in several threads and two processes.
#include "foundation/tests/trace_capture_win.h"
#include "foundation/trace.h"
#include "foundation/trace_test_seam_win.h"
#include "foundation/trace_file_trust_win.h"
#include "foundation/trace_writer_win.h"
#include "foundation/unique_resource_win.h"
#include "tests/support/child_process_win.h"
#include "tests/support/test_files_win.h"


#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {
using namespace trace_test;

const DWORD pid = GetCurrentProcessId();

// "P:%4d,T:%4d " for this process and the calling thread.
std::wstring header() {
    wchar_t text[64];
    std::swprintf(text, 64, L"P:%4lu,T:%4lu ", pid, GetCurrentThreadId());
    return text;
}

// The system's text for a code, as trace_error asks for it; empty when there is none.
std::wstring system_text(DWORD code) {
    unique_hlocal text;
    const DWORD n = FormatMessageW(0x1300, nullptr, code, 0, reinterpret_cast<LPWSTR>(text.put()), 0, nullptr);
    return n ? std::wstring(static_cast<const wchar_t*>(text.get()), n) : std::wstring();
}

// The file's lines with their prefixes removed; a line without a valid prefix fails.
std::vector<std::wstring> bodies() {
    std::vector<std::wstring> result;
    for (const auto& line : read_trace_lines()) {
        const auto body = strip_line_prefix(line, pid);
        EXPECT_TRUE(body) << "no prefix: " << testing::PrintToString(line);
        result.push_back(body ? *body : line);
    }
    return result;
}

TEST(TraceFile, ByteOrderMarkStartsANewFileOnly) {
    trace_capture capture;
    ASSERT_TRUE(capture.ready());
    trace_message(L"TraceFile::bom", L"first\n");
    trace_message(L"TraceFile::bom", L"second\n");
    auto bytes = read_trace_bytes();
    ASSERT_TRUE(bytes);
    ASSERT_GE(bytes->size(), 4u);
    EXPECT_EQ((*bytes)[0], 0xFF);
    EXPECT_EQ((*bytes)[1], 0xFE);
    const std::wstring text = read_trace_text();
    EXPECT_EQ(text.find(L'\xFEFF'), std::wstring::npos) << "a second mark";
    EXPECT_EQ(bodies().size(), 2u);
    // Deleted, the file comes back with a mark of its own.
    ASSERT_TRUE(delete_trace_file());
    trace_message(L"TraceFile::bom", L"third\n");
    bytes = read_trace_bytes();
    ASSERT_TRUE(bytes);
    EXPECT_EQ((*bytes)[0], 0xFF);
    EXPECT_EQ((*bytes)[1], 0xFE);
    EXPECT_EQ(bodies(), std::vector<std::wstring>{header() + L"TraceFile::bom: third"});
}

TEST(TraceFile, LinesHaveTheExactFormats) {
    trace_capture capture;
    ASSERT_TRUE(capture.ready());
    const std::wstring h = header();
    const std::wstring module = L"kvfoundation_tests";
    struct Case { void (*call)(); std::wstring body; };
    const Case cases[] = {
        {[] { trace_scope(L"RX_core_service_disp::call_function"); },
         h + L"RX_core_service_disp::call_function[0]"},
        {[] { trace_scope(L"plain_name", 7); }, h + module + L"!plain_name[7]"},
        {[] { trace_scope(L"CRxCoreServiceModule::PreMessageLoop", 0, L"thread = %d", 1234); },
         h + L"CRxCoreServiceModule::PreMessageLoop[0](thread = 1234)"},
        {[] { trace_scope(L"plain_name", -3, L"%S[%s](%s)", "{G}", L"S-1-5-18", L"user_logoff"); },
         h + module + L"!plain_name[-3]({G}[S-1-5-18](user_logoff))"},
        {[] { trace_message(L"RX_core_service_disp::call_function", L"Unable to decode function call!\n"); },
         h + L"RX_core_service_disp::call_function: Unable to decode function call!"},
        {[] { trace_message(L"plain_name", L"value %4d|%08x|%s\n", 42, 0xBEEFu, L"w"); },
         h + module + L"!plain_name: value   42|0000beef|w"},
        {[] { trace_message(L"X::y", L"100%% done\n"); }, h + L"X::y: 100% done"},
        {[] { trace_error(L"X::y", 0x20001234u); }, L"X::y: Error: 0x20001234"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(delete_trace_file());
        c.call();
        EXPECT_EQ(bodies(), std::vector<std::wstring>{c.body});
    }
}

TEST(TraceFile, ErrorsCarryTheSystemTextAndTheSpecialMarker) {
    trace_capture capture;
    ASSERT_TRUE(capture.ready());
    struct Case { std::uint32_t code; const wchar_t* printed; DWORD looked_up; const wchar_t* marker; };
    const Case cases[] = {
        {0x80004005u, L"0x80004005", 0x80004005u, L""},         // E_FAIL
        {0x80070005u, L"0x80070005", 0x80070005u, L""},         // E_ACCESSDENIED: no marker
        {0x80150005u, L"0x80150005", 0x80050005u, L"Special"},  // facility 0x15 -> 5
        {0x80170005u, L"0x80170005", 0x80070005u, L"Special"},  // bit 20 set, looked up as E_ACCESSDENIED
        {0x00500005u, L"0x00500005", 5u, L"Special"},
        {5u, L"0x00000005", 5u, L""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(delete_trace_file());
        trace_error(L"CRxCoreServiceModule::PreMessageLoop", c.code);
        const std::wstring text = system_text(c.looked_up);
        const std::wstring expected = std::wstring(L"CRxCoreServiceModule::PreMessageLoop: ") +
                                      c.marker + L"Error: " + c.printed +
                                      (text.empty() ? L"\n" : L" ==> " + text);
        EXPECT_EQ(read_trace_text().substr(read_trace_text().find(L"] ") + 2), expected)
            << std::hex << c.code;
    }
    EXPECT_FALSE(system_text(0x80070005u).empty()) << "the prefix should know E_ACCESSDENIED";
}

TEST(TraceFile, LineStartRulesPlaceOnePrefixPerLine) {
    trace_capture capture;
    ASSERT_TRUE(capture.ready());
    const std::wstring h = header();
    trace_message(L"X::open", L"no line feed, ");
    trace_message(L"X::open", L"closed\n");
    trace_message(L"X::two", L"one\ntwo\n");
    const auto lines = read_trace_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(bodies(), (std::vector<std::wstring>{
                            h + L"X::open: no line feed, " + h + L"X::open: closed",
                            h + L"X::two: one", L"two"}));
    EXPECT_EQ(lines[1].substr(0, 8), lines[2].substr(0, 8)) << "same time for both lines";
}

TEST(TraceFile, LongTextsAreWrittenWhole) {
    trace_capture capture;
    ASSERT_TRUE(capture.ready());
    std::wstring text;
    for (int i = 0; i < 1000; ++i) text.push_back(static_cast<wchar_t>(L'a' + i % 26));
    trace_scope(L"X::long_scope", 0, L"%s", text.c_str());
    trace_message(L"X::long_message", L"%s|%s\n", text.c_str(), text.c_str());
    EXPECT_EQ(bodies(), (std::vector<std::wstring>{header() + L"X::long_scope[0](" + text + L")",
                                                   header() + L"X::long_message: " + text + L"|" + text}));
}

TEST(TraceFile, SecretsAreMaskedBeforeWriting) {
    trace_capture capture;
    ASSERT_TRUE(capture.ready());
    trace_message(L"X::y", L"%s\n", L"<doc><secret>abcd</secret><SECRET>open</SECRET><secret>ef</secret></doc>");
    // Without a closing tag the rest of the text is masked, its ")" and line feed too, so
    // the next text continues that line.
    trace_scope(L"X::z", 0, L"%S", "<secret>pin");
    trace_message(L"X::w", L"tail<secret>");  // the marker at the very end masks nothing
    EXPECT_EQ(bodies(), (std::vector<std::wstring>{
                            header() + L"X::y: <doc><secret>****</secret><SECRET>open</SECRET><secret>**</secret></doc>",
                            header() + L"X::z[0](<secret>*****" + header() + L"X::w: tail<secret>"}));
}

TEST(TraceFile, EveryCallKeepsTheCallersLastError) {
    struct Case { const char* what; void (*call)(); };
    const Case cases[] = {
        {"scope", [] { trace_scope(L"X::y"); }},
        {"scope without colon", [] { trace_scope(L"plain"); }},
        {"scope with format", [] { trace_scope(L"X::y", 0, L"%d", 1); }},
        {"message", [] { trace_message(L"X::y", L"text %s\n", L"w"); }},
        {"error with text", [] { trace_error(L"X::y", 0x80070005u); }},
        {"error without text", [] { trace_error(L"X::y", 0x20001234u); }},
    };
    for (bool on : {false, true}) {
        if (on) ASSERT_TRUE(enable_tracing()); else ASSERT_TRUE(disable_tracing());
        for (const auto& c : cases) {
            trace_forget_switch_decision();  // includes the registry read
            SetLastError(0x12345);
            c.call();
            EXPECT_EQ(GetLastError(), 0x12345u) << c.what << (on ? " on" : " off");
            SetLastError(ERROR_ALREADY_EXISTS);  // what opening an existing file leaves
            c.call();
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << c.what;
        }
    }
    disable_tracing();
    delete_trace_file();
}

std::vector<std::wstring> refusal_reports;
void record_refusal(const wchar_t* text) noexcept { refusal_reports.emplace_back(text); }
bool owner_foreign(void*) noexcept { return false; }

// A planted file gets no line; the first refusal is reported once. Wine 8 can neither make
// nor show a reparse point or a foreign owner: the judgement and the seam stand in for them.
TEST(TraceFile, AFileItCannotTrustGetsNoLines) {
    EXPECT_EQ(judge_trace_file(FILE_ATTRIBUTE_REPARSE_POINT, 2, false), trace_file_refusal::reparse_point);
    EXPECT_EQ(judge_trace_file(FILE_ATTRIBUTE_ARCHIVE, 2, false), trace_file_refusal::hard_links);
    trace_capture capture;
    ASSERT_TRUE(capture.ready());
    const std::wstring path = trace_file_path(), target = test_files::temporary_path(L"TraceFile", L"target");
    const bytes planted{'p', 'l', 'a', 'n', 't'};
    trace_set_refusal_report(record_refusal);
    for (const bool hard_link : {true, false}) {
        ASSERT_TRUE(delete_trace_file() && test_files::write(target, planted));
        if (!hard_link) trace_install_owner_probe(owner_foreign);
        ASSERT_TRUE(hard_link ? CreateHardLinkW(path.c_str(), target.c_str(), nullptr) : CopyFileW(target.c_str(), path.c_str(), FALSE));
        trace_message(L"TraceFile::planted", L"a line for the planted file\n");
        trace_install_owner_probe(nullptr);
        EXPECT_EQ(test_files::read(target), planted);
        EXPECT_EQ(read_trace_bytes(), planted) << hard_link;
    }
    ASSERT_EQ(refusal_reports, std::vector<std::wstring>{L"Trace file refused, it has more than one hard link: " + path});
    ASSERT_TRUE(delete_trace_file());  // a file of its own passes the real owner check
    trace_message(L"TraceFile::planted", L"a file of its own\n");
    EXPECT_EQ(bodies(), std::vector<std::wstring>{header() + L"TraceFile::planted: a file of its own"});
    DeleteFileW(target.c_str());
}

constexpr int lines_per_writer = 100;

// Every line of the file is complete and each writer's lines are all there, in order.
void expect_all_lines(const std::vector<std::wstring>& lines, const std::set<std::wstring>& writers) {
    std::map<std::wstring, int> next;
    for (const auto& line : lines) {
        const std::size_t at = line.find(L"] P:");
        ASSERT_NE(at, std::wstring::npos) << testing::PrintToString(line);
        const std::size_t colon = line.find(L": line ", at);
        ASSERT_NE(colon, std::wstring::npos) << testing::PrintToString(line);
        const std::wstring writer = line.substr(at + 2, colon - at - 2);
        EXPECT_EQ(line.substr(colon), L": line " + std::to_wstring(next[writer]++) + L" end")
            << testing::PrintToString(line);
    }
    EXPECT_EQ(next.size(), writers.size());
    for (const auto& [writer, count] : next) EXPECT_EQ(count, lines_per_writer) << testing::PrintToString(writer);
}

void write_lines() {
    for (int i = 0; i < lines_per_writer; ++i) trace_message(L"X::writer", L"line %d end\n", i);
}

TEST(TraceFile, ThreadsWriteWholeLines) {
    trace_capture capture;
    ASSERT_TRUE(capture.ready());
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back(write_lines);
    for (auto& t : threads) t.join();
    const auto lines = read_trace_lines();
    EXPECT_EQ(lines.size(), 4u * lines_per_writer);
    std::set<std::wstring> writers;
    for (const auto& line : lines) writers.insert(line.substr(line.find(L"] P:") + 2, line.find(L": line") - line.find(L"] P:") - 2));
    EXPECT_EQ(writers.size(), 4u);
    expect_all_lines(lines, writers);
}

// The second writer, "write-lines": the same lines from a process of its own.
int write_lines_role(const std::wstring&) {
    write_lines();
    return 0;
}
const child_process::role second_writer{L"write-lines", write_lines_role};

TEST(TraceFile, TwoProcessesShareTheFile) {
    trace_capture capture;
    ASSERT_TRUE(capture.ready());
    const unique_handle child = child_process::start(L"write-lines");
    ASSERT_TRUE(child);
    write_lines();
    EXPECT_EQ(child_process::wait_for_exit(child.get()), 0u);
    const DWORD child_pid = GetProcessId(child.get());

    const auto bytes = read_trace_bytes();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(read_trace_text().find(L'\xFEFF'), std::wstring::npos) << "one mark only";
    const auto lines = read_trace_lines();
    EXPECT_EQ(lines.size(), 2u * lines_per_writer);
    std::size_t ours = 0, theirs = 0;
    for (const auto& line : lines) {
        if (strip_line_prefix(line, pid)) ++ours;
        else if (strip_line_prefix(line, child_pid)) ++theirs;
        else ADD_FAILURE() << testing::PrintToString(line);
    }
    EXPECT_EQ(ours, std::size_t{lines_per_writer});
    EXPECT_EQ(theirs, std::size_t{lines_per_writer});
}
}  // namespace
