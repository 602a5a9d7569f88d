#include "service/start_fault_seam_win.h"

#include <atomic>

namespace {
std::atomic<start_fault> installed{nullptr};
}  // namespace

start_fault install_start_fault(start_fault fault) noexcept { return installed.exchange(fault); }

HRESULT start_fault_at(start_step step) {
    const start_fault fault = installed.load();
    return fault != nullptr ? fault(step) : S_OK;
}
