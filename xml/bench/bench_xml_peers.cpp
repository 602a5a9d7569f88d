// bench_xml_peers: load and serialize the same ordinary call envelopes of about 1 KB,
// 64 KB and 1 MB of UTF-16 text with kvxml, pugixml and libxml2, natively. Each parser
// builds its whole document tree and releases it; each serializer writes the tree its own
// parser built as UTF-16. The three run interleaved in batches and the best batch of each
// counts, so a machine shared with other work slows all three alike. Prints MB/s of the
// UTF-16 input (for serializing too, so that the rates compare the same documents) and
// kvxml's ratio to the faster peer. kvxml loads as the peers do, given the text's length;
// the "load NUL" row is its load_from_string, which counts the length first. Prints
// figures only.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <pugixml.hpp>

#include "xml/kv_xml.h"

namespace {
using text = std::basic_string<xml_char>;

void put(text& t, const std::string& ascii) {
    for (char c : ascii) t.push_back(static_cast<xml_char>(c));
}

// A call envelope of about `bytes` bytes of UTF-16 text: arguments under one function.
text envelope(std::size_t bytes) {
    text t;
    put(t, "<?xml version=\"1.0\"?>\r\n<call>\r\n  <function name=\"core_store_items\">\r\n");
    for (int i = 0; (t.size() + 60) * sizeof(xml_char) < bytes; ++i) {
        const std::string n = std::to_string(i);
        put(t, "    <arg k=\"" + n + "\" t=\"v\">value " + n + "</arg>\r\n");
    }
    put(t, "  </function>\r\n</call>\r\n");
    return t;
}

// Keeps the optimiser from dropping work whose result is not otherwise used.
inline void keep(const void* p) { asm volatile("" : : "g"(p) : "memory"); }

struct peer_op {
    const char* name;
    bool (*run)(const text& input, void* state);
    void* state;
    double best = 0;  // best seconds per operation over the batches
};

// kvxml ------------------------------------------------------------------------------
bool kv_load(const text& input, void*) {
    KV_xml_doc* doc = create_xml_document();
    // The length is known, as it is for pugixml's load_buffer and libxml2's xmlReadMemory.
    const bool ok = kvxml_load_counted(*doc, input.c_str(), input.size()) == 1;
    doc->release();
    return ok;
}
// The same through load_from_string, which counts the text's length itself.
bool kv_load_terminated(const text& input, void*) {
    KV_xml_doc* doc = create_xml_document();
    const bool ok = doc->load_from_string(input.c_str()) == 1;
    doc->release();
    return ok;
}
bool kv_save(const text&, void* state) {
    auto* doc = static_cast<KV_xml_doc*>(state);
    xml_char* s = doc->to_string();
    keep(s);
    doc->free_string(s);
    return s != nullptr;
}

// pugixml (it converts UTF-16 to UTF-8 while loading and back while saving) ----------
bool pugi_load(const text& input, void*) {
    pugi::xml_document doc;
    return doc.load_buffer(input.data(), input.size() * sizeof(xml_char), pugi::parse_default,
                           pugi::encoding_utf16_le);
}
struct pugi_sink : pugi::xml_writer {
    std::string bytes;
    void write(const void* data, std::size_t size) override {
        bytes.append(static_cast<const char*>(data), size);
    }
};
bool pugi_save(const text&, void* state) {
    pugi_sink sink;
    static_cast<pugi::xml_document*>(state)->save(sink, "  ", pugi::format_default,
                                                   pugi::encoding_utf16_le);
    keep(sink.bytes.data());
    return !sink.bytes.empty();
}

// libxml2 ----------------------------------------------------------------------------
bool libxml_load(const text& input, void*) {
    xmlDocPtr doc = xmlReadMemory(reinterpret_cast<const char*>(input.data()),
                                  static_cast<int>(input.size() * sizeof(xml_char)), nullptr,
                                  "UTF-16LE", XML_PARSE_NONET);
    if (!doc) return false;
    xmlFreeDoc(doc);
    return true;
}
bool libxml_save(const text&, void* state) {
    xmlChar* out = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(static_cast<xmlDocPtr>(state), &out, &size, "UTF-16LE", 1);
    keep(out);
    xmlFree(out);
    return size > 0;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One batch of each operation in turn; the best seconds per operation of each over all
// batches. Batches are short (about 2 ms, at least one operation) so that on a busy
// machine many of them run without being interrupted.
bool measure(const text& input, peer_op* ops, int count, int batches) {
    for (int b = 0; b < batches; ++b) {
        for (int o = 0; o < count; ++o) {
            peer_op& op = ops[o];
            int runs = 0;
            const double start = now();
            double elapsed = 0;
            do {
                if (!op.run(input, op.state)) return false;
                ++runs;
                elapsed = now() - start;
            } while (elapsed < 0.002);
            const double per = elapsed / runs;
            if (op.best == 0 || per < op.best) op.best = per;
        }
    }
    return true;
}

double mbs(double bytes, double seconds) { return bytes / seconds / 1e6; }

void print_row(const char* size, const char* what, double bytes, const peer_op* ops) {
    const double kv = mbs(bytes, ops[0].best);
    const double faster = std::max(mbs(bytes, ops[1].best), mbs(bytes, ops[2].best));
    std::printf("%-8s %-9s %10.0f %10.0f %10.0f %8.2fx\n", size, what, kv, mbs(bytes, ops[1].best),
                mbs(bytes, ops[2].best), kv / faster);
}
}  // namespace

// An optional argument: the number of batches (default 60).
int main(int argc, char** argv) {
    const int batches = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    xmlInitParser();
    std::printf("XML load and serialize in MB/s of UTF-16 text, best of %d interleaved batches\n",
                batches);
    std::printf("%-8s %-9s %10s %10s %10s %9s\n", "envelope", "", "kvxml", "pugixml", "libxml2",
                "kv/best");
    struct size_row {
        const char* name;
        std::size_t bytes;
    };
    const size_row sizes[] = {{"1 KB", 1024}, {"64 KB", 64 * 1024}, {"1 MB", 1024 * 1024}};
    for (const size_row& size : sizes) {
        const text input = envelope(size.bytes);
        const double in_bytes = static_cast<double>(input.size() * sizeof(xml_char));

        peer_op loads[] = {{"kvxml", kv_load, nullptr}, {"pugixml", pugi_load, nullptr},
                           {"libxml2", libxml_load, nullptr}, {"kvxml", kv_load_terminated, nullptr}};
        if (!measure(input, loads, 4, batches)) {
            std::printf("%-8s a load failed\n", size.name);
            return 1;
        }
        print_row(size.name, "load", in_bytes, loads);
        const peer_op terminated[] = {loads[3], loads[1], loads[2]};
        print_row(size.name, "load NUL", in_bytes, terminated);

        // Each serializer writes the tree its own parser built from the same input; the
        // rate counts each one's own UTF-16 output.
        KV_xml_doc* kv_doc = create_xml_document();
        pugi::xml_document pugi_doc;
        xmlDocPtr libxml_doc = xmlReadMemory(reinterpret_cast<const char*>(input.data()),
                                             static_cast<int>(in_bytes), nullptr, "UTF-16LE", 0);
        if (kvxml_load_counted(*kv_doc, input.c_str(), input.size()) != 1 || !libxml_doc ||
            !pugi_doc.load_buffer(input.data(), input.size() * sizeof(xml_char),
                                  pugi::parse_default, pugi::encoding_utf16_le)) {
            std::printf("%-8s a load failed\n", size.name);
            return 1;
        }
        peer_op saves[] = {{"kvxml", kv_save, kv_doc}, {"pugixml", pugi_save, &pugi_doc},
                           {"libxml2", libxml_save, libxml_doc}};
        const bool saved = measure(input, saves, 3, batches);
        if (saved) print_row(size.name, "serialize", in_bytes, saves);
        xmlFreeDoc(libxml_doc);
        kv_doc->release();
        if (!saved) {
            std::printf("%-8s a serialization failed\n", size.name);
            return 1;
        }
    }
    xmlCleanupParser();
    return 0;
}
