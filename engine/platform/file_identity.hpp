// Whether two paths name one file. Names cannot tell: another spelling of
// the path, a symbolic link or a hard link reaches the same file under a
// different name. The system's identity of a file can: its device and inode
// number on POSIX, its volume serial number and file index on Windows.
#pragma once

#include <string>

namespace romwright::platform {

// True when both paths (UTF-8) name existing files and these are one and
// the same file (symbolic links followed); false when either does not exist
// or cannot be looked at.
bool same_file(const std::string &a, const std::string &b) noexcept;

} // namespace romwright::platform
