#include "engine/platform/regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace romwright::platform {
namespace {

// Whether the path names something that exists but is not a regular file: a
// socket, say, which cannot be opened, is refused like a FIFO.
bool names_something_else(const std::string &path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

} // namespace

OpenRegularResult open_regular_file(const std::string &path, RegularFile &out) noexcept {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return names_something_else(path) ? OpenRegularResult::not_regular : OpenRegularResult::cannot_open;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
        ::close(descriptor);
        return OpenRegularResult::not_regular;
    }
    // Reads of a regular file never wait anyway; the flag goes so that the
    // descriptor behaves like any other.
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0 || ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(descriptor);
        return OpenRegularResult::cannot_open;
    }
    std::FILE *file = ::fdopen(descriptor, "rb");
    if (!file) {
        ::close(descriptor);
        return OpenRegularResult::cannot_open;
    }
    out.file.reset(file);
    out.size = static_cast<uint64_t>(status.st_size);
    return OpenRegularResult::opened;
}

} // namespace romwright::platform
