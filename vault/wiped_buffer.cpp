#include "vault/wiped_buffer.h"

wiped_buffer::wiped_buffer(const protocol_buffers::buffer_functions& functions, std::uint32_t size) noexcept
    : release_(functions.release) {
    if (functions.allocate == nullptr || size == 0) return;
    data_ = static_cast<std::uint8_t*>(functions.allocate(size));
    if (data_ == nullptr) return;
    size_ = size;
    for (std::uint32_t i = 0; i < size; ++i) data_[i] = 0;
}

void wiped_buffer::reset() noexcept {
    if (data_ == nullptr) return;
    volatile std::uint8_t* p = data_;
    for (std::uint32_t i = 0; i < size_; ++i) p[i] = 0;
    if (release_) release_(data_);
    data_ = nullptr;
    size_ = 0;
}
