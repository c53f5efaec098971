// The operating system's allocation granularity and blocks aligned to it;
// memory_posix.cpp and memory_windows.cpp implement this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace romwright::platform {

// The operating system's allocation granularity (64 KiB on Windows, the page
// size on POSIX), read once.
std::size_t allocation_granularity();

struct AlignedDeleter {
    void operator()(uint8_t *block) const noexcept;
};
using AlignedBlock = std::unique_ptr<uint8_t[], AlignedDeleter>;

// A block of at least bytes bytes aligned to the allocation granularity, or
// null when it cannot be had.
AlignedBlock allocate_aligned(std::size_t bytes) noexcept;

} // namespace romwright::platform
