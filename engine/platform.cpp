#include "engine/platform.hpp"

#if defined(_WIN32)
#  define WIN32_LEAN_AND_MEAN
#  include <share.h>
#  include <windows.h>
#else
#  include <cstdlib>
#  include <unistd.h>
#endif

namespace romwright::platform {

#if defined(_WIN32)

namespace {
std::wstring widen(const std::string &utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}
} // namespace

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

SharedFile open_shared(const std::string &path, const char *mode) noexcept {
    std::wstring wmode = widen(mode);
    return SharedFile(_wfsopen(widen(path).c_str(), wmode.c_str(), _SH_DENYNO));
}

#else

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

SharedFile open_shared(const std::string &path, const char *mode) noexcept {
    // POSIX files are always shared between processes.
    return SharedFile(std::fopen(path.c_str(), mode));
}

#endif

int64_t file_size(std::FILE *file) noexcept {
    if (!file) return -1;
#if defined(_WIN32)
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    const int64_t size = _ftelli64(file);
    if (_fseeki64(file, 0, SEEK_SET) != 0) return -1;
#else
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    const int64_t size = static_cast<int64_t>(ftello(file));
    if (fseeko(file, 0, SEEK_SET) != 0) return -1;
#endif
    return size;
}

} // namespace romwright::platform
