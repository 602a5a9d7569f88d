#pragma once
// Test support for the vault-driver double: a real kernel driver (vault_driver_double.sys)
// that Wine loads, which answers "\\.\QlnVSROV" exactly at the vault driver's interface
// (control code 0x00222EEC, 16-byte frames) from a reply script the test sets, and records
// every request frame it receives.
//
// All state lives outside the test process, so every gtest case (its own process under
// ctest) sees the same driver:
//   script  : REG_BINARY "Replies" under
//             HKLM\SYSTEM\CurrentControlSet\Services\QlnVSROV\Parameters, re-read by the
//             driver on every request; the driver pops the head entry by rewriting the value.
//   records : C:\windows\temp\vault_double_requests.bin, appended by the driver,
//             one record per request: [u32 length][exact input bytes].
// Executables using the double must be serialized: kv_library(... LOCKS vault_driver).
// Link: TEST_DEPS kvvaultdouble.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/unique_resource_win.h"

namespace vault_double {

inline constexpr const wchar_t* device_path = L"\\\\.\\QlnVSROV";
inline constexpr const wchar_t* service_name = L"QlnVSROV";
inline constexpr uint32_t control_code = 0x00222EEC;
inline constexpr uint32_t frame_magic = 0xCAFEBEEF;
inline constexpr uint32_t header_size = 16;
// The double's own codes for held requests (see complete_held_request).
inline constexpr uint32_t hold_wait_code = 0x00222FC0;
inline constexpr uint32_t hold_release_code = 0x00222FC4;

// One scripted reply. Build with the factories; the fields are the wire form of the entry.
struct reply {
    enum class kind : uint8_t { answer = 1, raw = 2, fail = 3, grow = 4, garbage = 5 };
    kind type = kind::answer;
    int32_t status = 0;          // answer: frame status; fail: NT status of the IRP; garbage: seed
    std::vector<uint8_t> bytes;  // answer: payload; raw: the verbatim reply bytes; garbage: u32 count
    bool held = false;           // the request is pended until complete_held_request
    bool stuck = false;          // the request is pended and never completed

    // Well-behaved reply. When 16 + payload does not fit the caller's output length, the
    // driver answers a 16-byte header {magic, status 0, payload_length = payload size} and
    // keeps this entry at the head, so the client's resend with more room gets it.
    static reply answer(int32_t status, std::vector<uint8_t> payload);
    // Writes the bytes verbatim (cut to the output length) and returns that many; popped.
    static reply raw(std::vector<uint8_t> bytes);
    // Completes the request with this NT status and 0 bytes (DeviceIoControl fails
    // unless the status is a success); popped.
    static reply fail(int32_t ntstatus);
    // A header {magic, status 0, payload_length = output length - 16 + 1} and 16 bytes
    // returned, on every request until the script is replaced: a driver that always asks
    // for one byte more room than it was given.
    static reply grow();
    // The whole output buffer filled with bytes from the seed that do not begin with the
    // magic; `count` of them returned (cut to the output length); popped.
    static reply garbage(uint32_t seed, uint32_t count = 0xFFFFFFFFu);
    // The same reply, but the driver marks the request pending, prepares the reply and
    // completes it only when complete_held_request() releases it.
    static reply pended(reply r);
    // Pended without a cancel routine, never completed: only the driver's stop ends it (at
    // most 16 at once). A pended reply never released is one that only a cancel ends.
    static reply never_completed();
};

// Installs (copies the built .sys to C:\windows\system32\drivers\, creates the demand-start
// kernel service "QlnVSROV") and starts the driver when needed; cheap when already running
// the current build. True when the device opens.
bool start();
// Stops the driver; afterwards CreateFileW of the device fails with error 2.
// True when the driver is not running any more (also when it was never installed).
bool stop();

// Replaces the reply queue. An empty queue answers answer(0, {0x00, 0x00}).
// False when the registry value could not be written.
bool script(const std::vector<reply>& replies);
// Entries still queued (the head counts even while it waits for a larger buffer).
size_t pending_replies();

// Every request frame (exact input bytes) the driver received since the last
// clear_requests(), oldest first, including rejected ones.
std::vector<std::vector<uint8_t>> requests();
// False when the record file exists and could not be removed.
bool clear_requests();

// Client-side helpers for tests and benchmarks.
// A request frame: magic, reserved 0, status 0, payload_length 0, then the payload.
std::vector<uint8_t> request_frame(const std::vector<uint8_t>& payload);
// Opens the device as the real client does (access 0, share read|write, OPEN_EXISTING,
// FILE_FLAG_OVERLAPPED). Invalid handle on failure; GetLastError tells why.
unique_file open_device();

struct exchange_result {
    bool ok = false;             // DeviceIoControl's result
    DWORD error = 0;             // GetLastError when !ok
    std::vector<uint8_t> output; // the bytes returned (size = bytes-returned count)
};
// One DeviceIoControl with one buffer as input (input.size() bytes) and output
// (output_length bytes), waited for when the driver pends it.
exchange_result exchange(HANDLE device, const std::vector<uint8_t>& input,
                         uint32_t output_length);

// One DeviceIoControl with an OVERLAPPED on a device opened by open_device(), for
// watching a held request: pending() tells whether the call returned ERROR_IO_PENDING,
// finish() waits for the completion and owns the buffer until then.
class overlapped_exchange {
public:
    overlapped_exchange(HANDLE device, const std::vector<uint8_t>& input, uint32_t output_length,
                        uint32_t code = control_code);
    ~overlapped_exchange();
    overlapped_exchange(const overlapped_exchange&) = delete;
    overlapped_exchange& operator=(const overlapped_exchange&) = delete;
    bool pending() const { return pending_; }
    HANDLE completion_event() const { return event_.get(); }
    exchange_result finish();

private:
    HANDLE device_;
    unique_handle event_;
    OVERLAPPED overlapped_{};
    std::vector<uint8_t> buffer_;
    uint32_t output_length_;
    bool pending_ = false;
    bool finished_ = false;
    exchange_result result_;
};

// Waits until the driver holds a request (of any process), then has it completed with its
// prepared reply. Blocks; call it from another thread than the held call's. Gives up when
// give_up (an event, optional) is signalled first. False when the device cannot be opened
// or no request was held and released.
bool complete_held_request(HANDLE give_up = nullptr);

// Mean microseconds of one bare DeviceIoControl round trip (request frame with
// payload_size bytes, output 1024 + 16) over `calls` calls on one handle. The calls are
// answered by the current script, so clear it first to time the empty-queue default; each
// call is also recorded. Negative when the device cannot be opened or a call fails.
double measure_round_trip_us(unsigned calls, size_t payload_size = 8);

}  // namespace vault_double
