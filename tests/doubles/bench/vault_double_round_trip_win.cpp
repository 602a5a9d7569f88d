// Prints the cost of one DeviceIoControl round trip through the vault-driver double.
#include <cstdio>

#include "tests/doubles/vault_driver_double_win.h"

int main() {
    if (!vault_double::start()) {
        std::printf("vault_double_bench: the driver double did not start\n");
        return 1;
    }
    vault_double::script({});
    for (size_t payload : {size_t{8}, size_t{1000}}) {
        vault_double::clear_requests();
        vault_double::measure_round_trip_us(200, payload);  // warm-up
        const unsigned calls = 2000;
        const double us = vault_double::measure_round_trip_us(calls, payload);
        std::printf("vault_double round trip, %zu-byte request payload: %.1f us/call (%u calls)\n",
                    payload, us, calls);
    }
    vault_double::clear_requests();
    return 0;
}
