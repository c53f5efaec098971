// The running process's ID, which a board lock's holder gives to those it
// turns away. process_posix.cpp and process_windows.cpp implement this.
#pragma once

#include <cstdint>

namespace romwright::platform {

uint64_t process_id() noexcept;

} // namespace romwright::platform
