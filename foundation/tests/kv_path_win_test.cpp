#include "foundation/kv_path_win.h"
#include "tests/support/recording_allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {
KV_path path_of(const wchar_t* text) {
    KV_path p;
    p.assign_path(text);
    return p;
}

// A two-item identifier list: counts 4 and 5, then the zero count.
const std::uint8_t two_items[] = {4, 0, 'a', 'b', 5, 0, 'c', 'd', 'e', 0, 0};

TEST(KvPath, JoinPutsExactlyOneBackslashAtTheSeam) {
    struct row { const wchar_t* path; const wchar_t* component; const wchar_t* expected; };
    const row rows[] = {
        {L"S-1-5-18", L"Software\\Quillon\\Cryvane\\Logging", L"S-1-5-18\\Software\\Quillon\\Cryvane\\Logging"},
        {L"a\\", L"\\b", L"a\\b"},
        {L"a\\", L"b", L"a\\b"},
        {L"a", L"\\b", L"a\\b"},
        {L"", L"b", L"b"},
        {nullptr, L"b", L"b"},
        {L"a", nullptr, L"a"},
        {L"", L"\\b", L"\\b"},
        {L"a\\\\", L"\\\\b", L"a\\\\\\b"},  // only one of the backslashes at the seam goes
    };
    for (const row& r : rows) {
        KV_path p = path_of(r.path);
        const KV_path returned = p.join(KV_string(r.component));
        ASSERT_NE(p.text(), nullptr);
        EXPECT_STREQ(p.text(), r.expected);
        EXPECT_STREQ(returned.text(), r.expected) << "the result is returned as a copy";
    }
}

TEST(KvPath, JoinWithItselfAndChains) {
    KV_path p = path_of(L"a");
    p.join(p);
    EXPECT_STREQ(p.text(), L"a\\a");
    KV_path chained = path_of(L"HKU").join(KV_string(L"S-1-5-18")).join(KV_string(L"Software"));
    EXPECT_STREQ(chained.text(), L"HKU\\S-1-5-18\\Software");
}

TEST(KvPath, PrecedesOrdersKeyFilesRightAfterTheirItem) {
    struct row { const wchar_t* a; const wchar_t* b; bool expected; };
    const row rows[] = {
        {L"doc.rxkey", L"doc.txt", true},   {L"doc.txt", L"doc.rxkey", false},
        {L"doc.RXKEY", L"doc.txt", true},   {L"doc", L"doc.rxkey", true},
        {L"doc.rxkey", L"doc\\file", true}, {L"doc\\file", L"doc.txt", true},
        {L"doc\\file", L"doc2", true},      {L"dir\\a.txt", L"dir\\x.rxkey", true},
        {L"ab", L"abc", true},              {L"B", L"a", true},
        {L"doc.rxkey", L"doc.rxkey", true}, {L"doc.txt", L"doc.txt", false},
        // and the other way round where the table implies it
        {L"doc.rxkey", L"doc", false},      {L"doc\\file", L"doc.rxkey", false},
        {L"abc", L"ab", false},             {L"a", L"B", false},
        {L"", L"a", true},                  {L"a", L"", false},
    };
    for (const row& r : rows) {
        EXPECT_EQ(path_of(r.a).precedes(path_of(r.b)), r.expected)
            << std::string(r.a, r.a + std::wcslen(r.a)) << " vs " << std::string(r.b, r.b + std::wcslen(r.b));
    }
}

TEST(KvPath, CopiesCarryTheItemListAndTheValue) {
    KV_path original = path_of(L"C:\\data");
    original.set_item_list(two_items);
    original.set_value(0x1234);
    EXPECT_EQ(item_list_size(original.item_list()), sizeof two_items);

    const KV_path copy(original);
    ASSERT_NE(copy.item_list(), nullptr);
    EXPECT_NE(copy.item_list(), original.item_list()) << "a clone, not a shared list";
    EXPECT_EQ(std::memcmp(copy.item_list(), two_items, sizeof two_items), 0);
    EXPECT_EQ(copy.value(), 0x1234);
    EXPECT_STREQ(copy.text(), L"C:\\data");

    KV_path assigned;
    assigned = original;
    EXPECT_EQ(assigned.value(), 0x1234);
    ASSERT_NE(assigned.item_list(), nullptr);
}

TEST(KvPath, ChangingTheTextDropsTheItemListAndTheValue) {
    struct row { const char* what; void (*change)(KV_path&); bool text_changes; };
    const row rows[] = {
        {"assign_path", [](KV_path& p) { p.assign_path(L"other"); }, true},
        {"assign_text", [](KV_path& p) { p.assign_text(L"other"); }, true},
        {"join", [](KV_path& p) { p.join(KV_string(L"more")); }, true},
        {"join of a null component", [](KV_path& p) { p.join(KV_string(nullptr)); }, false},
        {"append", [](KV_path& p) { p.append(L"x"); }, true},
        {"assign of a string", [](KV_path& p) { p.assign(KV_string(L"other")); }, true},
        {"assign_text through the base", [](KV_path& p) { static_cast<KV_string&>(p).assign_text(L"o"); }, true},
        {"move through the base", [](KV_path& p) { static_cast<KV_string&>(p) = KV_string(L"o"); }, true},
        {"substring into it", [](KV_path& p) { KV_string(L"other").substring_from(p, 1); }, true},
        {"narrow", [](KV_path& p) { p.narrow(); }, false},
    };
    for (const row& r : rows) {
        KV_path p = path_of(L"C:\\data");
        p.set_item_list(two_items);
        p.set_value(7);
        r.change(p);
        EXPECT_EQ(p.item_list() == nullptr, r.text_changes) << r.what;
        EXPECT_EQ(p.value() == 0, r.text_changes) << r.what;
    }
}

TEST(KvPath, AssigningAPartOfItselfCopiesItBeforeTheBufferGoes) {
    KV_path p = path_of(L"C:\\dir\\file");
    p.assign_path(p.text() + 3);
    EXPECT_STREQ(p.text(), L"dir\\file");
    p.assign_text(p.text() + 4);
    EXPECT_STREQ(p.text(), L"file");
}

TEST(KvPath, DefaultIsTheEmptyTextWithoutExtras) {
    const KV_path p;
    ASSERT_NE(p.text(), nullptr);
    EXPECT_STREQ(p.text(), L"");
    EXPECT_EQ(p.item_list(), nullptr);
    EXPECT_EQ(p.value(), 0);
}

TEST(KvPath, PrecedesIsTheSlotAfterDiffers) {
    bool (KV_path::*member)(const KV_path&) const noexcept = &KV_path::precedes;
    std::uintptr_t representation[2];
    std::memcpy(representation, &member, sizeof representation);
    EXPECT_EQ(representation[0], 1 + 3 * sizeof(void*));
    const KV_path a = path_of(L"a"), b = path_of(L"b");
    void* const* table = *reinterpret_cast<void* const* const*>(&a);
    using slot = bool (*)(const KV_path*, const KV_path&);
    EXPECT_TRUE(reinterpret_cast<slot>(table[3])(&a, b));
    EXPECT_FALSE(reinterpret_cast<slot>(table[3])(&b, a));
}

TEST(KvPaths, DestroysEveryPath) {
    recording_allocator recorder;
    auto* paths = new KV_paths;
    paths->push_back(path_of(L"one"));
    paths->push_back(path_of(L"two"));
    ASSERT_GE(recorder.live_blocks(), 2u) << "each path holds its text";
    delete paths;  // through the virtual destructor
    EXPECT_EQ(recorder.live_blocks(), 0u);
    EXPECT_TRUE(recorder.unwiped_releases().empty());
}

TEST(LibraryList, FreesEveryModuleAtDestruction) {
    // Not version.dll: under Wine the stack protector's start-up (libssp seeds its canary
    // through the crypto API) has loaded it already.
    const wchar_t* module_name = L"msimg32.dll";
    ASSERT_EQ(GetModuleHandleW(module_name), nullptr) << "the test needs a module nobody else loaded";
    {
        library_list libraries;
        libraries.adopt_module(LoadLibraryW(module_name));
        libraries.adopt_module(LoadLibraryW(module_name));  // two references
        libraries.adopt_module(nullptr);                   // ignored
        libraries.push_back(path_of(L"C:\\windows\\system32\\msimg32.dll"));
        EXPECT_EQ(libraries.module_count(), 2u);
        EXPECT_NE(GetModuleHandleW(module_name), nullptr);
    }
    EXPECT_EQ(GetModuleHandleW(module_name), nullptr) << "both references released";
}

TEST(LibraryList, ProcessWideInstancesStartEmpty) {
    EXPECT_TRUE(process_library_list.empty());
    EXPECT_EQ(process_library_list.module_count(), 0u);
    EXPECT_TRUE(process_interface_associations.empty());
}

struct recorded_entry : KV_interface_association {
    recorded_entry(std::vector<int>& log, int id) : log_(log), id_(id) {}
    ~recorded_entry() override { log_.push_back(id_); }
    std::vector<int>& log_;
    int id_;
};

TEST(KvInterfaceAssociationList, DeletesEntriesFirstToLast) {
    std::vector<int> log;
    {
        KV_interface_association_list list;
        for (int id = 4; id >= 1; --id) list.push_front(std::make_unique<recorded_entry>(log, id));
        EXPECT_FALSE(list.empty());
    }
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 4}));
}

TEST(KvInterfaceAssociationList, LongListsDoNotExhaustTheStack) {
    // A chain this long overflows the stack when each entry deletes the next.
    auto* list = new KV_interface_association_list;
    for (int id = 0; id < 1000000; ++id) list->push_front(std::make_unique<KV_interface_association>());
    delete list;
    SUCCEED();
}
}  // namespace
