#include "zenapi/sim/flash_file.hpp"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "zenapi/sim/config_error.hpp"

namespace zenapi_sim {
namespace {

[[noreturn]] void fail(const std::string &path, const std::string &what) {
    throw ConfigError(fmt::format("{}: {}", path, what));
}

std::string system_error(const char *call) { return fmt::format("{} failed: {}", call, std::strerror(errno)); }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

uint8_t *map_shared(int fd, std::size_t size) {
    void *bytes = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return bytes == MAP_FAILED ? nullptr : static_cast<uint8_t *>(bytes);
}

// A new flash is built under a temporary name and renamed into place once
// erased, so an interrupted creation never leaves a half-erased flash behind.
void create_erased(const std::string &path, std::size_t size) {
    const std::string temporary = fmt::format("{}.new-{}", path, ::getpid());
    Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) fail(temporary, system_error("creating the flash file"));
    static constexpr std::size_t kChunk = 0x10000;
    static const std::vector<uint8_t> erased(kChunk, 0xFF);
    for (std::size_t done = 0; done < size;) {
        const std::size_t chunk = std::min(kChunk, size - done);
        const ssize_t wrote = ::write(fd.get(), erased.data(), chunk);
        if (wrote <= 0) {
            const auto why = system_error("writing the flash file");
            ::unlink(temporary.c_str());
            fail(temporary, why);
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const auto why = system_error("rename");
        ::unlink(temporary.c_str());
        fail(path, why);
    }
}

} // namespace

FlashFile::FlashFile(const std::string &path, uint64_t size) : path_(path) {
    if (size == 0 || size > SIZE_MAX) fail(path, "flash size out of range");
    size_ = static_cast<std::size_t>(size);

    int raw = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (raw < 0 && errno == ENOENT) {
        create_erased(path, size_);
        raw = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    Descriptor fd(raw);
    if (fd.get() < 0) fail(path, system_error("opening the flash file"));

    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) fail(path, system_error("fstat"));
    if (!S_ISREG(status.st_mode)) fail(path, "not a regular file");
    if (static_cast<uint64_t>(status.st_size) != size)
        fail(path, fmt::format("holds {} bytes, but the board's flash_size is {} (0x{:X}); remove the file to start "
                               "with an erased flash",
                               status.st_size, size, size));
    bytes_ = map_shared(fd.get(), size_);
    if (!bytes_) fail(path, system_error("mmap"));
}

FlashFile::~FlashFile() {
    if (!bytes_) return;
    ::msync(bytes_, size_, MS_ASYNC);
    ::munmap(bytes_, size_);
}

// The mapping is shared, so other processes and later runs see every store
// already; this only asks the kernel to start writing the pages out.
void FlashFile::flush() {
    if (bytes_) ::msync(bytes_, size_, MS_ASYNC);
}

void make_directories(const std::string &path) {
    if (path.empty()) fail("(state folder)", "empty path");
    std::string prefix;
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = path.find('/', at + 1);
        prefix = path.substr(0, at);
        if (prefix.empty()) continue;
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) fail(prefix, system_error("creating the state folder"));
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) fail(path, "the state folder is not a folder");
}

} // namespace zenapi_sim
