#include "tests/support/bytes.hpp"

#include <algorithm>
#include <cstring>

namespace testsupport {

std::vector<uint8_t> pattern_bytes(std::size_t size, std::size_t multiplier, unsigned shift, uint8_t salt) {
    std::vector<uint8_t> bytes(size);
    uint8_t *out = bytes.data();
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>((i * multiplier + (i >> shift)) ^ salt);
    return bytes;
}

std::size_t first_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    if (a.size() != b.size()) return 0;
    // Whole blocks by memcmp first; only a differing block is walked byte by byte.
    constexpr std::size_t kBlock = 4096;
    std::size_t at = 0;
    while (at < a.size()) {
        const std::size_t length = std::min(kBlock, a.size() - at);
        if (std::memcmp(a.data() + at, b.data() + at, length) != 0)
            return static_cast<std::size_t>(std::mismatch(a.begin() + at, a.begin() + at + length, b.begin() + at).first -
                                            a.begin());
        at += length;
    }
    return a.size();
}

} // namespace testsupport
