// bench_xml: load and to_string throughput on call envelopes of about 1 KB, 64 KB and
// 1 MB, beside Wine's (or Windows') MSXML loadXML and the xml property in the same run.
// The load is given the text's length, as call_function gives it the BSTR's (and as
// loadXML has it). Prints figures only.
#include <windows.h>
#include <msxml2.h>

#include <cstdio>
#include <string>

#include "foundation/com_resource_win.h"
#include "tests/bench/bench_timing_win.h"
#include "xml/kv_xml.h"

namespace {
// A call envelope of about `bytes` bytes of UTF-16 text.
std::wstring envelope(std::size_t bytes) {
    std::wstring text = L"<?xml version=\"1.0\"?>\r\n<call>\r\n  <function name=\"core_store_items\">\r\n";
    for (int i = 0; (text.size() + 40) * 2 < bytes; ++i) {
        text += L"    <item id=\"" + std::to_wstring(i) + L"\" kind=\"file\" flags=\"0x20\">"
                L"C:\\Users\\someone\\Documents\\report &amp; notes " + std::to_wstring(i) +
                L".docx</item>\r\n";
    }
    text += L"  </function>\r\n</call>\r\n";
    return text;
}

// Runs op until at least 0.4 s have passed; MB/s for `bytes` bytes per run, or -1 when
// a run failed.
template <typename Op>
double throughput(std::size_t bytes, Op&& op) {
    bool all_ran = true;
    const double seconds = bench::seconds_per_run([&] { all_ran = op() && all_ran; }, 0.4);
    return all_ran ? static_cast<double>(bytes) / seconds / 1e6 : -1;
}

com_ptr<IXMLDOMDocument> make_msxml() {
    // mingw-w64 has no CLSID_DOMDocument60 (nor a CLSID_DOMDocument symbol to link):
    // the classes are found by their ProgIDs.
    const wchar_t* const progids[] = {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument",
                                      L"Microsoft.XMLDOM"};
    com_ptr<IXMLDOMDocument> doc;
    for (const wchar_t* progid : progids) {
        CLSID clsid;
        if (FAILED(CLSIDFromProgID(progid, &clsid))) continue;
        if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                       reinterpret_cast<void**>(doc.put()))))
            return doc;
    }
    return doc;
}

void print(double mbs) {
    if (mbs < 0) std::printf("  %10s", "failed");
    else std::printf("  %10.1f", mbs);
}
}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        com_ptr<IXMLDOMDocument> msxml = make_msxml();
        std::printf("XML throughput in MB/s of UTF-16 text (%s)\n",
                    msxml ? "MSXML beside kvxml" : "MSXML not available");
        std::printf("%10s  %10s  %10s  %10s  %10s\n", "envelope", "kv load", "ms loadXML",
                    "kv to_str", "ms xml");
        const std::size_t sizes[] = {1024, 64 * 1024, 1024 * 1024};
        for (std::size_t size : sizes) {
            const std::wstring text = envelope(size);
            const std::size_t bytes = text.size() * sizeof(wchar_t);
            KV_xml_doc* doc = create_xml_document();
            const double kv_load = throughput(
                bytes, [&] { return kvxml_load_counted(*doc, text.c_str(), text.size()) == 1; });
            std::size_t out_bytes = 0;
            {
                wchar_t* s = doc->to_string();
                out_bytes = wcslen(s) * sizeof(wchar_t);
                doc->free_string(s);
            }
            const double kv_save = throughput(out_bytes, [&] {
                wchar_t* s = doc->to_string();
                const bool ok = s != nullptr;
                doc->free_string(s);
                return ok;
            });
            doc->release();

            double ms_load = -1, ms_save = -1;
            if (msxml) {
                unique_bstr source(SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size())));
                ms_load = throughput(bytes, [&] {
                    VARIANT_BOOL ok = VARIANT_FALSE;
                    return SUCCEEDED(msxml->loadXML(source.get(), &ok)) && ok == VARIANT_TRUE;
                });
                unique_bstr xml;
                if (ms_load >= 0 && SUCCEEDED(msxml->get_xml(xml.put())) && xml) {
                    const std::size_t xml_bytes = SysStringLen(xml.get()) * sizeof(wchar_t);
                    ms_save = throughput(xml_bytes, [&] {
                        unique_bstr s;
                        return SUCCEEDED(msxml->get_xml(s.put())) && s;
                    });
                }
            }
            std::printf("%8zu B", bytes);
            print(kv_load);
            print(ms_load);
            print(kv_save);
            print(ms_save);
            std::printf("\n");
        }
    }
    CoUninitialize();
    return 0;
}
