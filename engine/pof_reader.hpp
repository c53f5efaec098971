// Reader of programmer object files (".pof"): packets of image data and
// option-bits locations into the primary and secondary image slots.
#pragma once

#include <string>

#include "engine/image_slot.hpp"
#include "engine/log_sink.hpp"

namespace romwright {

// True when the first four bytes are "POF" and a zero byte.
bool has_pof_magic(const uint8_t *first_bytes, std::size_t length);

// Fills slots[0] (tags 17/26) and slots[1] (tags 0x8011/0x801A). Log lines
// are written only with debug. Throws on a file that cannot be used.
void load_pof_file(const std::string &path, ImageSlot (&slots)[2], bool debug, const LogSink &log);

} // namespace romwright
