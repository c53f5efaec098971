// Small helpers shared by the simulator's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zenapi/zenapi_sim.h>

namespace simtest {

// A recognisable byte pattern (never all 0xFF), different per seed.
inline std::vector<uint8_t> pattern(std::size_t size, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 12345;
    for (auto &b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

inline std::vector<uint8_t> read_flash(uint32_t system, uint32_t board, uint64_t offset, uint64_t length) {
    std::vector<uint8_t> bytes(length);
    if (ZenSimReadFlash(system, board, offset, bytes.data(), length) != 0) bytes.clear();
    return bytes;
}

inline bool all_bytes(const std::vector<uint8_t> &bytes, uint8_t value) {
    for (uint8_t b : bytes)
        if (b != value) return false;
    return !bytes.empty();
}

// "[[system]]" with one board of the given body.
inline std::string one_board(const std::string &body) { return "[[system]]\n[[system.board]]\n" + body + "\n"; }

} // namespace simtest
