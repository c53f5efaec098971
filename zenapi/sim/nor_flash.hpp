// A parallel NOR flash array as the simulated boards see it: erase sets
// bytes to 0xFF, programming can only clear bits (the result is the AND of
// the old and the new data). The bytes live elsewhere (the board's
// persistent flash file, mapped into memory), so whatever the array holds
// when the process ends, killed or not, is what the next run finds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zenapi_sim {

class NorFlash {
public:
    NorFlash(uint8_t *bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    std::size_t size() const { return size_; }
    const uint8_t *bytes() const { return bytes_; }

    // Each operation clips to the array; it returns the number of bytes touched.
    std::size_t erase(uint64_t offset, uint64_t length) {
        const std::size_t n = clip(offset, length);
        if (n) std::memset(bytes_ + offset, 0xFF, n);
        return n;
    }

    std::size_t program(uint64_t offset, const uint8_t *data, std::size_t length) {
        const std::size_t n = clip(offset, length);
        for (std::size_t i = 0; i < n; ++i) bytes_[offset + i] &= data[i];
        return n;
    }

    std::size_t read(uint64_t offset, uint8_t *out, std::size_t length) const {
        const std::size_t n = clip(offset, length);
        if (n) std::memcpy(out, bytes_ + offset, n);
        return n;
    }

    // Fault injection: forces bits of one byte, bypassing NOR rules.
    void force_byte(uint64_t offset, uint8_t value) {
        if (offset < size_) bytes_[offset] = value;
    }

private:
    std::size_t clip(uint64_t offset, uint64_t length) const {
        if (offset >= size_) return 0;
        return static_cast<std::size_t>(std::min<uint64_t>(length, size_ - offset));
    }

    uint8_t *bytes_;
    std::size_t size_;
};

} // namespace zenapi_sim
