// Whole flashes of test bytes, made and compared. These run over megabytes
// per test and live here, built with the build type's optimisation, rather
// than in the test cases, which are built without.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

// `size` bytes where byte i is (i * multiplier + (i >> shift)) ^ salt: no
// two nearby pages alike, and nothing like an erased or programmed flash.
std::vector<uint8_t> pattern_bytes(std::size_t size, std::size_t multiplier, unsigned shift, uint8_t salt);

// The offset of the first byte in which a and b differ: a.size() when they
// are equal, 0 when their sizes differ.
std::size_t first_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b);

} // namespace testsupport
