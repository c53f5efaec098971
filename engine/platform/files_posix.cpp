#include "engine/platform/files.hpp"

#include <sys/types.h>
#include <unistd.h>

namespace romwright::platform {

SharedFile open_shared(const std::string &path, const char *mode) noexcept {
    // POSIX files are always shared between processes.
    return SharedFile(std::fopen(path.c_str(), mode));
}

int64_t file_size(std::FILE *file) noexcept {
    if (!file) return -1;
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    const int64_t size = static_cast<int64_t>(ftello(file));
    if (fseeko(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

bool seek_to(std::FILE *file, uint64_t offset) noexcept {
    if (!file || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool flush_to_disk(std::FILE *file) noexcept { return std::fflush(file) == 0 && ::fsync(fileno(file)) == 0; }

} // namespace romwright::platform
