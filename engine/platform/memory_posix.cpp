#include "engine/platform/memory.hpp"

#include <unistd.h>

#include <cstdlib>

namespace romwright::platform {

std::size_t allocation_granularity() {
    static const std::size_t granularity = [] {
        long page = sysconf(_SC_PAGESIZE);
        return page > 0 ? static_cast<std::size_t>(page) : std::size_t{4096};
    }();
    return granularity;
}

void AlignedDeleter::operator()(uint8_t *block) const noexcept { std::free(block); }

AlignedBlock allocate_aligned(std::size_t bytes) noexcept {
    const std::size_t alignment = allocation_granularity();
    const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    void *block = nullptr;
    if (posix_memalign(&block, alignment, rounded == 0 ? alignment : rounded) != 0) return AlignedBlock();
    return AlignedBlock(static_cast<uint8_t *>(block));
}

} // namespace romwright::platform
