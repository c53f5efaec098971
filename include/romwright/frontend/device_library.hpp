// The device library, before a command's first call to it: every program
// asks here, once its command line is read, whether the library is there
// (engine/platform/device_library.hpp says when it is loaded).
#pragma once

#include <optional>
#include <string>

namespace romwright::frontend {

// Nothing when the device library is loaded; otherwise what a user reads:
// which library could not be loaded, the system's reason, and what to do.
std::optional<std::string> device_library_missing();

} // namespace romwright::frontend
