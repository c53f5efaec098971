// The engine's hex dump: lines of " AAAAAAAA " then the bytes in hex and as
// characters, each piece a separate log call at level 1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/log_sink.hpp"

namespace romwright {

void hex_dump(const LogSink &log, const uint8_t *bytes, std::size_t length, uint32_t address,
              uint32_t bytes_per_line);

} // namespace romwright
