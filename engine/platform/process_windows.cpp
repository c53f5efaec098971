#include "engine/platform/process.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace romwright::platform {

uint64_t process_id() noexcept { return GetCurrentProcessId(); }

} // namespace romwright::platform
