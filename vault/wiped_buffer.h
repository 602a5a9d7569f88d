#pragma once
// wiped_buffer: owner of a byte buffer from a buffer_functions pair. It overwrites every
// byte with zeros before handing the buffer back, since frames carry a copy of requests
// that can hold key material. Platform-free.
#include <cstdint>
#include <utility>

#include "vault/protocol_buffers_writer.h"

class wiped_buffer {
public:
    wiped_buffer() noexcept = default;
    // Allocates size bytes (filled with zeros); empty when the allocation fails.
    wiped_buffer(const protocol_buffers::buffer_functions& functions, std::uint32_t size) noexcept;
    wiped_buffer(wiped_buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          release_(other.release_) {}
    wiped_buffer& operator=(wiped_buffer&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            release_ = other.release_;
        }
        return *this;
    }
    wiped_buffer(const wiped_buffer&) = delete;
    wiped_buffer& operator=(const wiped_buffer&) = delete;
    ~wiped_buffer() { reset(); }

    // Wipes all size bytes and releases the buffer; the owner is empty afterwards.
    void reset() noexcept;
    std::uint8_t* data() const noexcept { return data_; }
    std::uint32_t size() const noexcept { return size_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }

private:
    std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 0;
    protocol_buffers::release_function release_ = nullptr;
};
