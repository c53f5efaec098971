// The running process and the time as a program tells it: its ID, and a
// moment in UTC as ISO 8601 text (the C library's thread-safe UTC
// conversion differs between the systems). process_posix.cpp and
// process_windows.cpp implement this.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace romwright::platform {

uint64_t process_id() noexcept;

// "2026-12-09T01:30:00Z".
std::string utc_text(std::time_t moment);

} // namespace romwright::platform
