#pragma once
// The server's lock count: one reference per live object of the class and per
// IClassFactory::LockServer(TRUE). The service module decides what the last release
// means (nothing in service mode; the start of the shutdown in local-server mode).
#include <windows.h>

// Adds a reference; returns the new count.
LONG server_lock() noexcept;
// Drops a reference; returns the new count and, when a handler is installed, calls it
// with that count on the releasing thread.
LONG server_unlock() noexcept;
LONG server_lock_count() noexcept;

using server_unlock_handler = void (*)(LONG count) noexcept;
// Installs the handler (null: none) and returns the previous one.
server_unlock_handler set_server_unlock_handler(server_unlock_handler handler) noexcept;
