// Files opened by a UTF-8 path and shared with other programs that read and
// write them meanwhile (the log, a firmware file), their size, and positions
// in them as 64-bit offsets (a long, which fseek takes, is 32 bits on
// Windows); files_posix.cpp and files_windows.cpp implement this.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace romwright::platform {

struct FileCloser {
    void operator()(std::FILE *file) const noexcept {
        if (file) std::fclose(file);
    }
};
using SharedFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file (path in UTF-8) in binary mode ("rb", "ab", "wb", ...) so that
// other programs may read and write it meanwhile. Null when it cannot be
// opened (errno tells why). An append mode ("a", "ab") writes every piece at
// the end of the file as it is at that moment, even while another program
// appends to it too. "a" is a text file: on Windows each "\n" written becomes
// "\r\n" in the file; on POSIX "a" and "ab" are the same.
SharedFile open_shared(const std::string &path, const char *mode) noexcept;

// Size in bytes of an open file (its position is left at the start), or -1
// when it cannot be told (a folder, say).
int64_t file_size(std::FILE *file) noexcept;

// Moves an open file's position to `offset` bytes from its start.
bool seek_to(std::FILE *file, uint64_t offset) noexcept;

// Hands what was written to file over to the disk itself (not only to the
// system's cache), so that it survives a power loss; false when that fails.
bool flush_to_disk(std::FILE *file) noexcept;

} // namespace romwright::platform
