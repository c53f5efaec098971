// Firmware files opened by a UTF-8 path without ever blocking, and taken
// only when what was opened is a regular file with bytes in it;
// regular_file_posix.cpp and regular_file_windows.cpp implement this.
#pragma once

#include <cstdint>
#include <string>

#include "engine/platform/files.hpp"

namespace romwright::platform {

// A file opened for reading that is known to be a regular file of `size`
// bytes (at least one).
struct RegularFile {
    SharedFile file;
    uint64_t size = 0;
};

enum class OpenRegularResult {
    opened,
    cannot_open,  // missing, no permission, ...
    not_regular,  // a folder, a FIFO, a device, an empty file, ...
};

// Opens a file (path in UTF-8) for reading, shared with other programs, only
// when the opened handle is a regular file of at least one byte. Never waits:
// a FIFO or a device is opened without blocking and then refused, and what is
// checked is what was opened, not what the path named a moment before.
OpenRegularResult open_regular_file(const std::string &path, RegularFile &out) noexcept;

} // namespace romwright::platform
