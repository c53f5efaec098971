// A board's persistent flash: the file <state dir>/<name>.flash, mapped
// shared into memory, so every store reaches the file at once and whatever an
// interrupted run leaves is what the next run finds. All operating-system
// calls of the simulator's persistence live in flash_file_posix.cpp and
// flash_file_windows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zenapi_sim {

class FlashFile {
public:
    // Opens the file, creating it erased (all 0xFF) when it does not exist.
    // Throws ConfigError naming the file when it has another size or cannot
    // be created or mapped.
    FlashFile(const std::string &path, uint64_t size);
    ~FlashFile();
    FlashFile(const FlashFile &) = delete;
    FlashFile &operator=(const FlashFile &) = delete;

    uint8_t *bytes() { return bytes_; }
    std::size_t size() const { return size_; }
    const std::string &path() const { return path_; }

    // Starts writing the mapped pages out (also done when the file closes).
    void flush();

private:
    std::string path_;
    uint8_t *bytes_ = nullptr;
    std::size_t size_ = 0;
};

// Creates a folder and its missing parents; throws ConfigError on failure.
void make_directories(const std::string &path);

} // namespace zenapi_sim
