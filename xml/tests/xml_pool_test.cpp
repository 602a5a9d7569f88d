// The per-thread block cache: blocks keep their size class, travel between threads and
// stay ordinary heap blocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "xml/xml_pool.h"
#include "xml_test_support.h"

TEST(XmlPool, ReusedBlocksAreAtLeastTheirClassSize) {
    // A buffer of a small block reallocated into a cached class must come back with the
    // class's full size, since the next user of that class fills all of it.
    EXPECT_EQ(144u, kvxml_pool_round(130));
    EXPECT_EQ(16u, kvxml_pool_round(1));
    EXPECT_EQ(4000u, kvxml_pool_round(4000));
    for (int round = 0; round < 3; ++round) {
        {
            xml_buffer small(32);
            small.assign(X("0123456789012345678901234567890123456789").c_str());  // 40 > 32
        }
        xml_buffer full;
        for (int i = 0; i < 64; ++i) full.append(u'x');
        EXPECT_EQ(64, full.length());
        EXPECT_EQ(64, full.get_capacity());
    }
}

TEST(XmlPool, DocumentsMadeOnOneThreadAreReleasedOnAnother) {
    KV_xml_doc* doc = nullptr;
    std::thread maker([&doc] {
        doc = create_xml_document();
        doc->load_from_string(X("<a x='1'><b>t</b><c/></a>").c_str());
    });
    maker.join();  // the maker's cache is gone; its blocks still belong to the tree
    std::thread user([doc] {
        EXPECT_EQ("?xml[version=1.0]{a[x=1]{b\"t\",c}}", dump(doc->get_root()));
        doc->release();
    });
    user.join();
}

TEST(XmlPool, DetachedStringsAreFreedWithFree) {
    for (int i = 0; i < 100; ++i) {
        doc_ptr doc = new_doc();
        doc->create_new();
        xml_char* s = doc->to_string();
        std::free(s);
    }
}

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>

TEST(XmlPool, CachedBlocksAreNoLeaksToLeakSanitizer) {
    // Under AddressSanitizer cached blocks are poisoned, links included; a leak check in
    // the middle of a run (as libFuzzer makes) must still reach every cached block.
    for (int i = 0; i < 3; ++i) {
        doc_ptr doc = new_doc();
        doc->load_from_string(X("<a b='1' c='2'><d/><e>t</e></a>").c_str());
    }
    ASSERT_GT(kvxml_pool_cached_bytes(), 64u);
    EXPECT_EQ(0, __lsan_do_recoverable_leak_check());
}
#endif
