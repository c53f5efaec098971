#include "engine/platform/process.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace romwright::platform {

uint64_t process_id() noexcept { return GetCurrentProcessId(); }

std::string utc_text(std::time_t moment) {
    std::tm parts{};
    gmtime_s(&parts, &moment);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

} // namespace romwright::platform
