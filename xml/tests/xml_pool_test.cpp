// The per-thread block cache: blocks keep their size class, travel between threads and
// stay ordinary heap blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "xml/xml_arena.h"
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

// Takes every block the cache holds, class by class, and counts those that still hold a
// non-zero byte; a block the cache did not have is left aside unread.
std::size_t unwiped_cached_blocks() {
    std::vector<std::pair<void*, std::size_t>> taken;
    std::size_t unwiped = 0;
    for (std::size_t bytes = 16; bytes <= 256; bytes += 16) {
        for (;;) {
            const std::size_t cached = kvxml_pool_cached_bytes();
            auto* block = static_cast<unsigned char*>(kvxml_pool_alloc(bytes));
            taken.emplace_back(block, bytes);
            if (kvxml_pool_cached_bytes() == cached) break;  // a fresh heap block: the class is empty
            for (std::size_t i = 0; i < bytes; ++i)
                if (block[i] != 0) {
                    ++unwiped;
                    break;
                }
        }
    }
    for (const auto& [block, bytes] : taken) kvxml_pool_free(block, bytes);
    return unwiped;
}

// The same for the parser's chunks, past their header: a chunk the cache did not have is
// zeroed here and given to the cache with the others, so that every chunk a later load
// takes from the cache starts all zero (a fresh heap chunk may hold anything).
std::size_t unwiped_cached_chunks() {
    constexpr std::size_t header = (sizeof(kvxml_chunk) + 7) & ~std::size_t{7};
    std::size_t unwiped = 0;
    for (int kind = 0; kind < kvxml_chunk_kinds; ++kind) {
        const std::size_t bytes = kvxml_chunk_bytes(kind);
        std::vector<unsigned char*> taken;
        for (bool cached = true; cached;) {
            const std::size_t before = kvxml_pool_cached_bytes();
            taken.push_back(static_cast<unsigned char*>(kvxml_pool_alloc_chunk(kind)));
            cached = kvxml_pool_cached_bytes() != before;
            if (cached) unwiped += std::count(taken.back() + header, taken.back() + bytes, 0) != static_cast<std::ptrdiff_t>(bytes - header);
            std::memset(taken.back(), 0, bytes);
        }
        for (unsigned char* chunk : taken) kvxml_pool_free_chunk(chunk, kind);
    }
    return unwiped;
}

TEST(XmlPool, ReleasedTreesGoBackToTheCacheWiped) {
    // Call envelopes carry secrets in names, attributes and texts, short and long; a text
    // that grows moves to larger blocks on the way, leaving each smaller one behind.
    const char* const documents[] = {
        "<function name='vault_unlock'><key id='k1' value='S3cr3t-0123456789abcdef'/></function>",
        "<a><b>p4ssw0rd p4ssw0rd p4ssw0rd p4ssw0rd p4ssw0rd p4ssw0rd p4ssw0rd p4ssw0rd p4ssw0rd "
        "p4ssw0rd p4ssw0rd p4ssw0rd p4ssw0rd p4ssw0rd p4ssw0rd</b><c x='&amp;&lt;'>t</c></a>",
        "<S3cr3tName attribute_with_a_long_name='v'>line\none\nline two</S3cr3tName>",
    };
    unwiped_cached_chunks();
    for (const char* text : documents) {
        {
            doc_ptr doc = new_doc();
            ASSERT_EQ(1, doc->load_from_string(X(text).c_str())) << text;
            KV_xml_node* root = doc->get_root()->get_child(0, nullptr);
            ASSERT_NE(nullptr, root);
            xml_string grown;
            for (int i = 0; i < 40; ++i) root->set_text((grown += X("S3cr3t grows ")).c_str());
            xml_char* s = doc->to_string();
            doc->free_string(s);
        }
        EXPECT_GT(kvxml_pool_cached_bytes(), 0u);
        EXPECT_EQ(0u, unwiped_cached_blocks()) << text;
        EXPECT_EQ(0u, unwiped_cached_chunks()) << text;
    }
    // A node a client keeps holds its chunk after its document goes; the rest of the
    // document is wiped meanwhile, around it, and the node itself when it goes.
    doc_ptr keeper = new_doc();
    keeper->create_new();
    {
        doc_ptr doc = new_doc();
        ASSERT_EQ(1, doc->load_from_string(X(documents[1]).c_str()));
        keeper->get_root()->append_child(doc->get_root()->get_child(0, nullptr)->get_child(0, nullptr));
    }
    KV_xml_node* kept = keeper->get_root()->get_child(0, nullptr);
    EXPECT_EQ(X("b"), xml_string(kept->get_name()));
    EXPECT_EQ(X("p4ssw0rd p4ssw0rd"), xml_string(kept->get_text()).substr(0, 17));
    keeper.reset();
    EXPECT_EQ(0u, unwiped_cached_chunks());
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
