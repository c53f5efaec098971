#include "fuzz/firmware_input.hpp"

#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/pof_reader.hpp"
#include "engine/raw_image.hpp"

namespace fuzzing {
namespace {

[[noreturn]] void fail(const char *call) {
    std::fprintf(stderr, "==romwright-fuzz== %s failed on the in-memory file: %s\n", call, std::strerror(errno));
    std::abort();
}

// One in-memory file for the whole run, rewritten for every input.
class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("romwright-fuzz-input", MFD_CLOEXEC)) {
        if (fd_ < 0) fail("memfd_create");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }

    // The file becomes `zeros` zero bytes then the bytes.
    const std::string &hold(uint64_t zeros, const uint8_t *bytes, std::size_t size) {
        // Cutting to 0 first drops the last input's bytes where the hole
        // goes; growing again leaves a hole that reads as zeros.
        if (zeros > 0 && ftruncate(fd_, 0) != 0) fail("ftruncate");
        if (ftruncate(fd_, static_cast<off_t>(zeros + size)) != 0) fail("ftruncate");
        for (std::size_t done = 0; done < size;) {
            const ssize_t written = pwrite(fd_, bytes + done, size - done, static_cast<off_t>(zeros + done));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) fail("pwrite");
            done += static_cast<std::size_t>(written);
        }
        return path_;
    }

private:
    int fd_;
    std::string path_;
};

MemoryFile &memory_file() {
    static MemoryFile file;
    return file;
}

} // namespace

void read_pof(const uint8_t *bytes, std::size_t size, ImageSlot (&slots)[2], bool debug,
              const romwright::LogSink &log) {
    romwright::load_pof_file(memory_file().hold(0, bytes, size), slots, debug, log);
}

void read_raw(uint64_t zeros, const uint8_t *tail, std::size_t size, ImageSlot &primary,
              const romwright::LogSink &log) {
    romwright::load_binary_file(memory_file().hold(zeros, tail, size), primary, log);
}

} // namespace fuzzing
