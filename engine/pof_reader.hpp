// Reader of programmer object files (".pof"): packets of image data and
// option-bits locations into the primary and secondary image slots.
#pragma once

#include <string>

#include "engine/firmware_file.hpp"
#include "engine/image_slot.hpp"
#include "engine/log_sink.hpp"

namespace romwright {

// True when the first four bytes are "POF" and a zero byte.
bool has_pof_magic(const uint8_t *first_bytes, std::size_t length);

// Fills slots[0] (tags 17/26) and slots[1] (tags 0x8011/0x801A) from the
// source. Log lines are written only with debug. Throws on input that cannot
// be used; a load that fails may leave the slots partly filled.
void load_pof(FirmwareSource &source, ImageSlot (&slots)[2], bool debug, const LogSink &log);

// The same from the firmware file at path (UTF-8).
void load_pof_file(const std::string &path, ImageSlot (&slots)[2], bool debug, const LogSink &log);

} // namespace romwright
