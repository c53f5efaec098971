#include "engine/platform/process.hpp"

#include <unistd.h>

namespace romwright::platform {

uint64_t process_id() noexcept { return static_cast<uint64_t>(::getpid()); }

} // namespace romwright::platform
