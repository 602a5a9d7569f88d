// bench_vault: the cost of encoding each vault request against a plain copy of the same
// bytes, and of each operation on an open channel through the driver double against a
// bare DeviceIoControl round trip with a frame of the same size, in the same run; and the
// driver part of one logoff (a channel opened, unload_user_bkeys, remove_sso_data, the
// channel closed) against a driver that answers, one that asks for one byte more room on
// every attempt, one that completes pended requests only when they are cancelled, and one
// that never completes them. Prints figures only.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/unique_resource_win.h"
#include "tests/bench/bench_timing_win.h"
#include "tests/doubles/vault_driver_double_win.h"
#include "vault/driver_frame.h"
#include "vault/protocol_buffers_driver_call_win.h"
#include "vault/vault_driver_com_win.h"
#include "vault/vault_requests.h"

namespace {
const GUID key_guid = {0x12345607, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
const vault_key_id key_id = {0x12345607, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

struct bench_key final : lkey_source, lkey_descriptor {
    std::uint8_t data[32] = {};
    bool get_flag() override { return true; }
    std::int32_t get_descriptor(lkey_descriptor** d) override { *d = this; return 1; }
    std::int32_t get_kind(std::uint8_t* k) override { *k = 1; return 1; }
    std::int32_t get_key_text(const char16_t** t) override { *t = nullptr; return 1; }
    std::int32_t get_key_data(const std::uint8_t** d, std::uint32_t* n) override { *d = data; *n = 32; return 1; }
    std::int32_t get_id(vault_key_id* id) override { *id = key_id; return 1; }
    std::int32_t get_descriptor_text1(const char16_t** t) override { *t = nullptr; return 1; }
    std::int32_t get_descriptor_text2(const char16_t** t) override { *t = nullptr; return 1; }
};
bench_key the_key;

struct operation {
    const char* name;
    void (*encode)(ProtocolBuffersWriter&);
    HRESULT (*run)(VX_vault_driver_com&);
};
const operation operations[] = {
    {"send_operation_5", [](ProtocolBuffersWriter& w) { vault_request::write_operation(w, 5); },
     [](VX_vault_driver_com& c) { return c.send_operation_5(); }},
    {"unload_user_bkeys(SID)",
     [](ProtocolBuffersWriter& w) { vault_request::write_user_operation(w, 9, "S-1-5-21-1004336348-1177238915-682003330-1000"); },
     [](VX_vault_driver_com& c) { return c.unload_user_bkeys("S-1-5-21-1004336348-1177238915-682003330-1000"); }},
    {"remove_sso_data(SID)",
     [](ProtocolBuffersWriter& w) { vault_request::write_user_operation(w, 15, "S-1-5-21-1004336348-1177238915-682003330-1000"); },
     [](VX_vault_driver_com& c) { return c.remove_sso_data("S-1-5-21-1004336348-1177238915-682003330-1000"); }},
    {"unload_lkey", [](ProtocolBuffersWriter& w) { vault_request::write_unload_lkey(w, key_id); },
     [](VX_vault_driver_com& c) { return c.unload_lkey(&key_guid); }},
    {"load_lkey(32-byte key)", [](ProtocolBuffersWriter& w) { vault_request::write_load_lkey(w, the_key); },
     [](VX_vault_driver_com& c) { return c.load_lkey(&the_key); }},
};

double now_us() { return bench::now_seconds() * 1e6; }

volatile std::uint32_t sink;

// Encoding: a fresh writer per request, as each operation does, against allocating a
// buffer of the same size, copying the finished bytes in, wiping and freeing it.
void bench_encoding() {
    const auto heap = vault_driver::process_heap();
    constexpr int rounds = 200000;
    std::printf("%-26s %12s %12s %8s\n", "encoding", "ns/request", "copy ns", "ratio");
    for (const operation& op : operations) {
        std::vector<std::uint8_t> reference;
        {
            ProtocolBuffersWriter w(heap);
            op.encode(w);
            reference.assign(w.data(), w.data() + w.size());
        }
        double start = now_us();
        for (int i = 0; i < rounds; ++i) {
            ProtocolBuffersWriter w(heap);
            op.encode(w);
            sink = sink + w.size();
        }
        const double encode_ns = (now_us() - start) * 1000.0 / rounds;
        start = now_us();
        for (int i = 0; i < rounds; ++i) {
            void* copy = heap.allocate(static_cast<std::uint32_t>(reference.size()));
            std::memcpy(copy, reference.data(), reference.size());
            sink = sink + static_cast<volatile std::uint8_t*>(copy)[0];
            std::memset(copy, 0, reference.size());
            heap.release(copy);
        }
        const double copy_ns = (now_us() - start) * 1000.0 / rounds;
        std::printf("%-26s %12.1f %12.1f %8.2f  (%zu bytes)\n", op.name, encode_ns, copy_ns, encode_ns / copy_ns,
                    reference.size());
    }
}

// A bare round trip: one prepared frame of the operation's size, one DeviceIoControl.
double bare_round_trip_us(HANDLE device, const std::vector<std::uint8_t>& payload, int calls) {
    const std::uint32_t len = static_cast<std::uint32_t>(payload.size());
    std::vector<std::uint8_t> frame(driver_frame::buffer_size(len, driver_frame::first_reply_capacity));
    const double start = now_us();
    for (int i = 0; i < calls; ++i) {
        driver_frame::write_request_header(frame.data());
        std::memcpy(frame.data() + 16, payload.data(), len);
        DWORD returned = 0;
        if (!DeviceIoControl(device, vault_driver::control_code, frame.data(), len + 16, frame.data(),
                             driver_frame::first_reply_capacity + 16, &returned, nullptr))
            return -1;
    }
    return (now_us() - start) / calls;
}

double operation_us(VX_vault_driver_com& channel, const operation& op, int calls) {
    const double start = now_us();
    for (int i = 0; i < calls; ++i)
        if (FAILED(op.run(channel))) return -1;
    return (now_us() - start) / calls;
}

void bench_round_trips() {
    if (!vault_double::start()) {
        std::printf("driver double did not start: round trips not measured\n");
        return;
    }
    vault_double::script({});
    VX_vault_driver_com channel;
    unique_file bare = vault_double::open_device();
    constexpr int calls = 200, slices = 10;
    std::printf("\n%-26s %12s %12s %8s\n", "round trip (double)", "us/op", "bare us", "ratio");
    for (const operation& op : operations) {
        std::vector<std::uint8_t> payload;
        {
            ProtocolBuffersWriter w(vault_driver::process_heap());
            op.encode(w);
            payload.assign(w.data(), w.data() + w.size());
        }
        operation_us(channel, op, 50);  // warm up
        bare_round_trip_us(bare.get(), payload, 50);
        // Interleaved slices, so that drifts of the double hit both sides alike.
        double op_total = 0, bare_total = 0;
        for (int slice = 0; slice < slices; ++slice) {
            op_total += operation_us(channel, op, calls / slices);
            bare_total += bare_round_trip_us(bare.get(), payload, calls / slices);
        }
        std::printf("%-26s %12.1f %12.1f %8.2f\n", op.name, op_total / slices, bare_total / slices,
                    op_total / bare_total);
        vault_double::clear_requests();
    }
}
// The driver part of one logoff, as the logoff handler runs it: a channel of its own and
// the two requests for the departing user.
double logoff_us(int logoffs, HRESULT& last) {
    constexpr const char* user = "S-1-5-21-1004336348-1177238915-682003330-1000";
    const double start = now_us();
    for (int i = 0; i < logoffs; ++i) {
        VX_vault_driver_com channel;
        const logoff_requests sent = send_logoff_requests(channel, user);
        last = FAILED(sent.removed) ? sent.removed : sent.unloaded;
    }
    return (now_us() - start) / logoffs;
}

void bench_logoff() {
    if (!vault_double::start()) return;
    using vault_double::reply;
    // A driver that pends the requests is timed over one logoff: each takes seconds.
    const struct {
        const char* driver;
        std::vector<reply> script;
        int logoffs;
    } drivers[] = {
        {"answers at once", {}, 200},
        {"asks one byte more", {reply::grow()}, 200},
        {"answers when cancelled", {reply::pended(reply::answer(0, {})), reply::pended(reply::answer(0, {}))}, 1},
        {"never completes", {reply::never_completed(), reply::never_completed()}, 1},
    };
    std::printf("\n%-26s %12s %12s %12s\n", "logoff's driver requests", "us/logoff", "requests", "result");
    for (const auto& d : drivers) {
        HRESULT last = S_OK;
        if (d.logoffs > 1) {
            vault_double::script(d.script);
            logoff_us(10, last);  // warm up
        }
        if (!vault_double::script(d.script) || !vault_double::clear_requests()) continue;
        const int logoffs = d.logoffs;
        const double us = logoff_us(logoffs, last);
        const std::size_t requests = vault_double::requests().size();
        std::printf("%-26s %12.1f %12.1f   0x%08lX\n", d.driver, us, static_cast<double>(requests) / logoffs,
                    static_cast<unsigned long>(last));
    }
    vault_double::script({});
    vault_double::clear_requests();
    // The requests the driver never completed end with its stop.
    vault_double::stop();
    vault_double::start();
}
}  // namespace

int main() {
    bench_encoding();
    bench_round_trips();
    bench_logoff();
    return 0;
}
