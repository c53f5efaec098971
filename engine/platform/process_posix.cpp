#include "engine/platform/process.hpp"

#include <unistd.h>

namespace romwright::platform {

uint64_t process_id() noexcept { return static_cast<uint64_t>(::getpid()); }

std::string utc_text(std::time_t moment) {
    std::tm parts{};
    gmtime_r(&moment, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

} // namespace romwright::platform
