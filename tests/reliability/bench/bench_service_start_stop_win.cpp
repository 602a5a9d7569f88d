// The real service under the control manager, started and stopped again at once, 100
// times: a stop is sent as soon as the control manager takes one (it refuses controls while
// the service is still START_PENDING), so each stop lands somewhere in the service's start.
// Prints how many cycles reached SERVICE_STOPPED and how long the slowest took. Prints
// figures only.
#include "tests/bench/bench_timing_win.h"
#include "tests/reliability/reliability_support_win.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
using namespace service_host_test;

constexpr int cycles = 100;
// A cycle that has not ended by then is counted as not stopped.
constexpr double cycle_limit_seconds = 60;

// Sends the stop until the control manager takes it, or the service has stopped by itself;
// false when neither happened within the limit.
bool stop_as_soon_as_taken(double begun) {
    for (;;) {
        if (control(SERVICE_CONTROL_STOP)) return true;
        if (state() == SERVICE_STOPPED) return true;
        if (bench::now_seconds() - begun > cycle_limit_seconds) return false;
        Sleep(1);
    }
}

// Waits for SERVICE_STOPPED until the cycle's limit; true when it was reached.
bool wait_for_stopped(double begun) {
    for (;;) {
        if (state() == SERVICE_STOPPED) return true;
        if (bench::now_seconds() - begun > cycle_limit_seconds) return false;
        Sleep(1);
    }
}

struct cycle_result {
    bool stopped = false;
    double ms = 0;        // start request to SERVICE_STOPPED (or to giving up)
    DWORD exit_code = 0;  // the service's, once stopped
};

// One start request followed at once by a stop.
cycle_result start_then_stop() {
    cycle_result result;
    const double begun = bench::now_seconds();
    if (request_start() && stop_as_soon_as_taken(begun)) result.stopped = wait_for_stopped(begun);
    result.ms = (bench::now_seconds() - begun) * 1000;
    if (result.stopped) result.exit_code = exit_code();
    return result;
}

void print_summary(const std::vector<cycle_result>& results) {
    int stopped = 0, nonzero_exit = 0;
    double slowest = 0, total = 0;
    int slowest_cycle = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const cycle_result& r = results[i];
        if (r.stopped) ++stopped;
        if (r.stopped && r.exit_code != 0) ++nonzero_exit;
        total += r.ms;
        if (r.ms > slowest) {
            slowest = r.ms;
            slowest_cycle = static_cast<int>(i) + 1;
        }
    }
    std::vector<double> times;
    for (const cycle_result& r : results) times.push_back(r.ms);
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    std::printf("start then immediately stop, %d cycles requested, %zu run:\n", cycles, results.size());
    std::printf("  reached SERVICE_STOPPED: %d of %zu (%d with a non-zero exit code)\n", stopped, results.size(),
                nonzero_exit);
    std::printf("  slowest cycle: %.1f ms (cycle %d)\n", slowest, slowest_cycle);
    std::printf("  median cycle:  %.1f ms, mean %.1f ms\n", median,
                results.empty() ? 0.0 : total / static_cast<double>(results.size()));
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = 0;
    {
        registered_service service(tracing::off);
        if (!service.ready()) {
            std::printf("the service cannot be registered in this prefix\n");
            code = 1;
        } else {
            std::vector<cycle_result> results;
            for (int cycle = 0; cycle < cycles; ++cycle) {
                results.push_back(start_then_stop());
                // A service that did not stop holds every later start: the run ends here.
                if (!results.back().stopped) {
                    std::printf("cycle %d did not reach SERVICE_STOPPED (state %lu)\n", cycle + 1,
                                static_cast<unsigned long>(state()));
                    break;
                }
            }
            print_summary(results);
        }
    }
    CoUninitialize();
    return code;
}
