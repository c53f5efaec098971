// Shared between the fake library's sources; not for tests.
#pragma once

#include <cstdint>
#include <mutex>

#include "tests/support/fake_zenapi.hpp"

namespace fakezen::detail {

// The one lock around every library call.
std::recursive_mutex &lock();

bool controller_decodes(uint32_t offset);
uint32_t controller_read(ControllerDevice &device, uint32_t offset);
void controller_write(ControllerDevice &device, uint32_t offset, uint32_t value);

} // namespace fakezen::detail
