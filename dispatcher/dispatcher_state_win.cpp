#include "dispatcher/dispatcher_state_win.h"

#include <atomic>

namespace {
std::atomic<DWORD> recorded_main_thread{0};
std::atomic<bool> quit_flag{false};
}  // namespace

DWORD main_thread_id() noexcept { return recorded_main_thread.load(); }
void set_main_thread_id(DWORD thread_id) noexcept { recorded_main_thread.store(thread_id); }
bool quit_requested() noexcept { return quit_flag.load(); }
void request_quit() noexcept { quit_flag.store(true); }
