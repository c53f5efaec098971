#include "engine/platform/program_console.hpp"

namespace romwright::platform {

std::vector<std::string> program_arguments(int argc, char **argv) {
    // A program may be started with no argument vector at all (argc 0).
    if (argc <= 1 || !argv) return {};
    return std::vector<std::string>(argv + 1, argv + argc);
}

void use_utf8_console() noexcept {}

} // namespace romwright::platform
