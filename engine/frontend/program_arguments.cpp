#include <romwright/frontend/program_arguments.hpp>

#include "engine/platform/program_console.hpp"

namespace romwright::frontend {

std::vector<std::string> program_arguments(int argc, char **argv) { return platform::program_arguments(argc, argv); }

void use_utf8_console() noexcept { platform::use_utf8_console(); }

} // namespace romwright::frontend
