#pragma once
// The request messages of the vault driver operations. Each message starts with field 1,
// the operation number, followed by the operation's own fields in the order below (not
// in ascending field order). Platform-free.
#include <cstdint>

#include "vault/lkey.h"
#include "vault/protocol_buffers_writer.h"

namespace vault_request {
inline constexpr std::uint32_t op_send_operation_5 = 5;
inline constexpr std::uint32_t op_unload_lkey = 6;
inline constexpr std::uint32_t op_load_lkey = 7;
inline constexpr std::uint32_t op_unload_user_bkeys = 9;
inline constexpr std::uint32_t op_remove_sso_data = 15;

// Field 1 = operation.
void write_operation(ProtocolBuffersWriter& writer, std::uint32_t operation) noexcept;
// Field 1 = 6, field 2 = the 16 id bytes.
void write_unload_lkey(ProtocolBuffersWriter& writer, const vault_key_id& id) noexcept;
// Field 1 = operation, then field 9 = the user text (ISO 8859-1 to UTF-8) unless null.
void write_user_operation(ProtocolBuffersWriter& writer, std::uint32_t operation,
                          const char* user) noexcept;
// Field 1 = 7, then the key record (write_key). Returns write_key's result.
std::int32_t write_load_lkey(ProtocolBuffersWriter& writer, lkey_source& key) noexcept;

// The key record: queries descriptor, id, kind and key data (any failure, or a null
// descriptor: E_INVALIDARG with nothing written), then the key text and both descriptor
// texts; traces the id under "write_key"; writes fields 3 (kind), 8 (key bytes), 2 (id),
// 4, 5, 6 (texts present) and 7 (flag). Returns S_OK.
std::int32_t write_key(ProtocolBuffersWriter& writer, lkey_source& key) noexcept;

// The 16 bytes of an id in its memory layout: each part little-endian, then data4.
void key_id_bytes(const vault_key_id& id, std::uint8_t (&bytes)[16]) noexcept;
}  // namespace vault_request
