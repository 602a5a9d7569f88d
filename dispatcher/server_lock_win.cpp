#include "dispatcher/server_lock_win.h"

#include <atomic>

namespace {
LONG volatile lock_count = 0;
std::atomic<server_unlock_handler> unlock_handler{nullptr};
}  // namespace

LONG server_lock() noexcept { return ::InterlockedIncrement(&lock_count); }

LONG server_unlock() noexcept {
    const LONG count = ::InterlockedDecrement(&lock_count);
    if (const server_unlock_handler handler = unlock_handler.load()) handler(count);
    return count;
}

LONG server_lock_count() noexcept { return lock_count; }

server_unlock_handler set_server_unlock_handler(server_unlock_handler handler) noexcept {
    return unlock_handler.exchange(handler);
}
