#pragma once
// Timing helpers shared by the benchmarks: a monotonic clock and the mean time of one
// repetition of some work, measured long enough to be stable. Benchmarks print figures;
// nothing here asserts.
#include <windows.h>

#include <cstddef>

namespace bench {

inline double now_seconds() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

// Keeps the optimiser from dropping work whose result is not otherwise used.
inline void keep(const void* p) { asm volatile("" : : "g"(p) : "memory"); }

// Mean seconds of one `work()`, after one warm-up run, over at least `min_seconds`.
template <typename Work>
double seconds_per_run(Work work, double min_seconds = 0.25) {
    work();
    std::size_t runs = 0;
    const double start = now_seconds();
    double elapsed = 0;
    do {
        work();
        ++runs;
        elapsed = now_seconds() - start;
    } while (elapsed < min_seconds);
    return elapsed / static_cast<double>(runs);
}

}  // namespace bench
