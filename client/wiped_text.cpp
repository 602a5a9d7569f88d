#include "client/wiped_text.h"

#include "foundation/kv_memory.h"

namespace rx_client {

void wipe_memory(void* block, std::size_t bytes) noexcept { kv_memory::wipe(block, bytes); }

}  // namespace rx_client
