#include "vault/vault_requests.h"

#include "foundation/kv_memory.h"
#include "foundation/trace.h"
#include "vault/vault_status.h"

namespace vault_request {
namespace {
constexpr std::uint32_t field_operation = 1;
constexpr std::uint32_t field_key_id = 2;
constexpr std::uint32_t field_kind = 3;
constexpr std::uint32_t field_descriptor_text1 = 4;
constexpr std::uint32_t field_descriptor_text2 = 5;
constexpr std::uint32_t field_key_text = 6;
constexpr std::uint32_t field_flag = 7;
constexpr std::uint32_t field_key_data = 8;
constexpr std::uint32_t field_user = 9;

void write_varint_field(ProtocolBuffersWriter& writer, std::uint32_t field, std::uint32_t value) noexcept {
    writer.writeVarint(field << 3 | protocol_buffers::wire_varint);
    writer.writeVarint(value);
}

void write_id_field(ProtocolBuffersWriter& writer, const vault_key_id& id) noexcept {
    std::uint8_t bytes[16];
    key_id_bytes(id, bytes);
    writer.writeBytesField(field_key_id, bytes, sizeof bytes);
    kv_memory::wipe(bytes, sizeof bytes);
}

void write_optional_text(ProtocolBuffersWriter& writer, std::uint32_t field, const char16_t* text) noexcept {
    if (text != nullptr) writer.writeWideStringField(field, text, protocol_buffers::to_terminator);
}
}  // namespace

void key_id_bytes(const vault_key_id& id, std::uint8_t (&bytes)[16]) noexcept {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(id.data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<std::uint8_t>(id.data2 >> (8 * i));
    for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<std::uint8_t>(id.data3 >> (8 * i));
    for (int i = 0; i < 8; ++i) bytes[8 + i] = id.data4[i];
}

void write_operation(ProtocolBuffersWriter& writer, std::uint32_t operation) noexcept {
    write_varint_field(writer, field_operation, operation);
}

void write_unload_lkey(ProtocolBuffersWriter& writer, const vault_key_id& id) noexcept {
    write_operation(writer, op_unload_lkey);
    write_id_field(writer, id);
}

void write_user_operation(ProtocolBuffersWriter& writer, std::uint32_t operation, const char* user) noexcept {
    write_operation(writer, operation);
    if (user != nullptr) writer.writeStringField(field_user, user, protocol_buffers::to_terminator);
}

std::int32_t write_load_lkey(ProtocolBuffersWriter& writer, lkey_source& key) noexcept {
    write_operation(writer, op_load_lkey);
    return write_key(writer, key);
}

std::int32_t write_key(ProtocolBuffersWriter& writer, lkey_source& key) noexcept {
    lkey_descriptor* descriptor = nullptr;
    vault_key_id id{};
    std::uint8_t kind = 0;
    const std::uint8_t* key_data = nullptr;
    std::uint32_t key_data_count = 0;
    const char16_t* key_text = nullptr;
    const char16_t* text1 = nullptr;
    const char16_t* text2 = nullptr;
    if (!key.get_descriptor(&descriptor) || descriptor == nullptr) return vault_status::invalid_arg;
    if (!descriptor->get_id(&id)) return vault_status::invalid_arg;
    if (!key.get_kind(&kind)) return vault_status::invalid_arg;
    if (!key.get_key_data(&key_data, &key_data_count)) return vault_status::invalid_arg;
    key.get_key_text(&key_text);
    descriptor->get_descriptor_text1(&text1);
    descriptor->get_descriptor_text2(&text2);

    trace_message(L"write_key",
                  L"Loading key with id {%08X-%04hX-%04hX-%02hX%02hX-%02hX%02hX%02hX%02hX%02hX%02hX}\n",
                  id.data1, id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3],
                  id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
    write_varint_field(writer, field_kind, kind);
    writer.writeBytesField(field_key_data, key_data, key_data_count);
    write_id_field(writer, id);
    write_optional_text(writer, field_descriptor_text1, text1);
    write_optional_text(writer, field_descriptor_text2, text2);
    write_optional_text(writer, field_key_text, key_text);
    write_varint_field(writer, field_flag, key.get_flag() ? 1 : 0);
    return vault_status::ok;
}
}  // namespace vault_request
