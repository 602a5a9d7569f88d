// Throughput of scramble_text and unscramble_text beside memcpy of the same bytes, in the
// same run, at about 1 KB, 64 KB and 1 MB of text. Prints figures only.
#include "dispatcher/argument_scrambling.h"
#include "dispatcher/scramble_text_win.h"
#include "foundation/com_resource_win.h"
#include "tests/bench/bench_timing_win.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Bytes per second of `work`, repeated until at least a quarter second has passed.
template <typename Work>
double rate(std::size_t bytes, Work work) {
    return static_cast<double>(bytes) / bench::seconds_per_run(work);
}

void report(const char* what, std::size_t bytes, double call, double core, double copy, double alloc_us) {
    std::printf("%-10s %8zu B  call %8.1f MB/s (%.3f x memcpy)  without allocation %8.1f MB/s (%.3f x memcpy)"
                "  memcpy %8.1f MB/s  allocation %7.1f us\n",
                what, bytes, call / 1e6, call / copy, core / 1e6, core / copy, copy / 1e6, alloc_us);
}

}  // namespace

int main() {
    namespace as = argument_scrambling;
    std::mt19937 rng(42);
    std::uniform_int_distribution<unsigned> pick(1, 0xFFFF);
    std::printf("bench_scramble: MB/s over the input text's bytes. 'call' is scramble_text or\n"
                "unscramble_text with its result allocation; 'without allocation' is the same length\n"
                "scan and coding into a reused buffer; 'allocation' is SysAllocStringByteLen plus\n"
                "SysFreeString of the result's size alone. memcpy copies the same bytes in this run.\n");
    for (std::size_t size : {std::size_t{1024}, std::size_t{64} << 10, std::size_t{1} << 20}) {
        std::vector<wchar_t> plain(size / 2 + 1, 0);
        for (std::size_t i = 0; i + 1 < plain.size(); ++i) plain[i] = static_cast<wchar_t>(pick(rng));
        unique_bstr coded;
        if (FAILED(scramble_text(plain.data(), coded.put()))) return 1;
        const std::size_t coded_units = SysStringLen(coded.get()) - 1, plain_units = plain.size() - 1;
        const std::size_t coded_bytes = coded_units * 2, plain_bytes = plain_units * 2;
        const auto* coded_in = reinterpret_cast<const as::unit*>(coded.get());
        const auto* plain_in = reinterpret_cast<const as::unit*>(plain.data());
        std::vector<as::unit> out(coded_units + 1);

        std::vector<char> from(coded_bytes), to(coded_bytes);
        const auto copy = [&](std::size_t bytes) {
            return rate(bytes, [&] {
                std::memcpy(to.data(), from.data(), bytes);
                bench::keep(to.data());
            });
        };
        const auto allocation_us = [&](std::size_t units) {
            return 1e6 / rate(1, [&] {
                const unique_bstr b(SysAllocStringByteLen(nullptr, static_cast<UINT>(2 * units + 2)));
                bench::keep(b.get());
            });
        };

        const double copy_coded = copy(coded_bytes);
        const double unscramble_call = rate(coded_bytes, [&] {
            unique_bstr result;
            unscramble_text(coded.get(), result.put());
            bench::keep(result.get());
        });
        const double unscramble_core = rate(coded_bytes, [&] {
            as::unscramble_units(coded_in, as::text_length(coded_in), out.data());
            bench::keep(out.data());
        });
        report("unscramble", coded_bytes, unscramble_call, unscramble_core, copy_coded, allocation_us(plain_units));

        const double copy_plain = copy(plain_bytes);
        const double scramble_call = rate(plain_bytes, [&] {
            unique_bstr result;
            scramble_text(plain.data(), result.put());
            bench::keep(result.get());
        });
        const double scramble_core = rate(plain_bytes, [&] {
            as::scramble_units(plain_in, as::text_length(plain_in), out.data());
            bench::keep(out.data());
        });
        report("scramble", plain_bytes, scramble_call, scramble_core, copy_plain, allocation_us(coded_units));
    }
    return 0;
}
