#include "engine/platform/memory.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace romwright::platform {

std::size_t allocation_granularity() {
    static const std::size_t granularity = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<std::size_t>(info.dwAllocationGranularity);
    }();
    return granularity;
}

void AlignedDeleter::operator()(uint8_t *block) const noexcept {
    if (block) VirtualFree(block, 0, MEM_RELEASE);
}

AlignedBlock allocate_aligned(std::size_t bytes) noexcept {
    // VirtualAlloc reserves at the allocation granularity.
    void *block = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    return AlignedBlock(static_cast<uint8_t *>(block));
}

} // namespace romwright::platform
