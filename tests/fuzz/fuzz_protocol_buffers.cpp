// Protocol buffers on any bytes. The first byte picks the case:
// - reply payload: readStatus and the reader's primitives on the rest, in a heap block of
//   exactly its size; positions never leave the payload, every result is one the reader
//   can give, and readStatus does not depend on where the reader stood;
// - reply frame: judge_reply on a frame of the rest (at least the 16 header bytes), with a
//   returned count and a capacity from the input; each verdict is consistent with the
//   header it was given;
// - writer: varints and text fields written and read back.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tests/fuzz/fuzz_support.h"
#include "vault/driver_frame.h"
#include "vault/protocol_buffers_reader.h"
#include "vault/protocol_buffers_writer.h"
#include "vault/vault_status.h"

namespace {
constexpr std::uint32_t limit = 1u << 20;
void* allocate(std::uint32_t bytes) noexcept { return bytes <= limit ? std::malloc(bytes) : nullptr; }
void release(void* block) noexcept { std::free(block); }
constexpr protocol_buffers::buffer_functions heap{allocate, release};

bool primitive_result(std::int32_t r) { return r == vault_status::ok || r == vault_status::nt_parse_error; }

void check_payload(const std::string& bytes, std::uint8_t script) {
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[bytes.size()]);
    if (!bytes.empty()) std::memcpy(block.get(), bytes.data(), bytes.size());
    const std::uint8_t* start = block.get();
    const std::uint8_t* end = start + bytes.size();
    ProtocolBuffersReader reader(start, end);

    const std::int32_t status = readStatus(reader);
    FUZZ_CHECK(status == vault_status::ok || status == vault_status::parse_error ||
               (static_cast<std::uint32_t>(status) & vault_status::nt_facility_bit) != 0);
    // A payload that starts with field 0 answers with its value or a parse error.
    if (!bytes.empty() && static_cast<std::uint8_t>(bytes[0]) < 8) FUZZ_CHECK(status != vault_status::ok);

    // The primitives in an order the script bits choose, until one fails or the end.
    reader.rewind();
    for (int step = 0; step < 64 && !reader.atEnd(); ++step) {
        const std::uint8_t* before = reader.position();
        std::uint32_t value = 0;
        std::int32_t r = 0;
        switch ((script >> (2 * (step % 4))) & 3) {
        case 0: r = reader.readVarint(value); break;
        case 1: r = reader.skipField(0); break;
        case 2: r = reader.skipField(2); break;
        default: r = reader.expectWireType(static_cast<std::uint32_t>(step & 7)); break;
        }
        FUZZ_CHECK(primitive_result(r));
        if (r != vault_status::ok) break;
        FUZZ_CHECK(reader.position() > before && reader.position() <= end);
    }
    // readStatus reads from the start, wherever the reader stands.
    FUZZ_CHECK(readStatus(reader) == status);
}

void check_frame(fuzz_bytes& in) {
    const std::uint32_t returned = in.u32();
    const std::uint32_t capacity = in.u32();
    std::string frame = in.rest();
    if (frame.size() < driver_frame::header_size) frame.resize(driver_frame::header_size);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.data());
    const driver_frame::reply_verdict verdict = driver_frame::judge_reply(bytes, returned, capacity);
    const std::uint32_t status = driver_frame::read_u32(bytes + 8);
    const std::uint32_t payload_length = driver_frame::read_u32(bytes + 12);
    const bool framed = returned >= 16 && driver_frame::read_u32(bytes) == driver_frame::magic;
    switch (verdict.kind) {
    case driver_frame::reply_verdict::accepted:
        FUZZ_CHECK(framed && static_cast<std::int32_t>(status) >= 0);
        FUZZ_CHECK(verdict.value == payload_length && std::uint64_t{payload_length} + 16 == returned);
        FUZZ_CHECK(returned <= std::uint64_t{capacity} + 16);
        break;
    case driver_frame::reply_verdict::grow:
        FUZZ_CHECK(framed && static_cast<std::int32_t>(status) >= 0);
        FUZZ_CHECK(verdict.value == payload_length && payload_length > capacity);
        break;
    case driver_frame::reply_verdict::driver_failure:
        FUZZ_CHECK(framed && static_cast<std::int32_t>(status) < 0);
        FUZZ_CHECK(verdict.value == (status | vault_status::nt_facility_bit));
        break;
    case driver_frame::reply_verdict::invalid:
        if (framed && static_cast<std::int32_t>(status) >= 0) FUZZ_CHECK(payload_length <= capacity);
        break;
    }
    // The buffer for the next attempt holds the request and the capacity asked for.
    const std::uint32_t size = driver_frame::buffer_size(returned, capacity);
    if (size != 0) FUZZ_CHECK(size >= 16 && size - 16 >= returned && size - 16 >= capacity);
}

void check_writer(fuzz_bytes& in) {
    ProtocolBuffersWriter writer(heap);
    std::uint32_t values[8];
    for (std::uint32_t& v : values) {
        v = in.u32() >> (in.byte() & 31);
        writer.writeVarint(v);
    }
    const std::string text = in.rest();
    writer.writeStringField(9, text.c_str(), static_cast<std::int32_t>(text.size()));
    const std::u16string wide = fuzz_units(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    writer.writeWideStringField(4, wide.data(), static_cast<std::int32_t>(wide.size()));
    FUZZ_CHECK(!writer.failed() && writer.position() == writer.size());

    ProtocolBuffersReader reader(writer.data(), writer.data() + writer.size());
    for (std::uint32_t v : values) {
        std::uint32_t read = 0;
        FUZZ_CHECK(reader.readVarint(read) == vault_status::ok && read == v);
    }
    // Field 9: the 8-bit text as UTF-8, one or two bytes per byte.
    std::uint32_t tag = 0, length = 0;
    FUZZ_CHECK(reader.readVarint(tag) == vault_status::ok && tag == 9 * 8 + 2);
    FUZZ_CHECK(reader.readVarint(length) == vault_status::ok);
    const std::uint8_t* utf8 = reader.position();
    std::size_t at = 0;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            FUZZ_CHECK(utf8[at++] == b);
        } else {
            FUZZ_CHECK(utf8[at] == (0xC0 | (b >> 6)) && utf8[at + 1] == (0x80 | (b & 0x3F)));
            at += 2;
        }
    }
    FUZZ_CHECK(at == length);
    // Field 4 follows right after it and ends the message.
    reader = ProtocolBuffersReader(utf8 + length, writer.data() + writer.size());
    FUZZ_CHECK(reader.readVarint(tag) == vault_status::ok && tag == 4 * 8 + 2);
    FUZZ_CHECK(reader.skipField(2) == vault_status::ok && reader.atEnd());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_bytes in(data, size);
    const std::uint8_t choice = in.byte();
    switch (choice % 3) {
    case 0: {
        const std::uint8_t script = in.byte();
        check_payload(in.rest(), script);
        break;
    }
    case 1: check_frame(in); break;
    default: check_writer(in); break;
    }
    return 0;
}
