// How the fuzz targets hand their input to the image readers: straight from
// memory, through the readers' byte-source interface, with no file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/image/image_slot.hpp"
#include "engine/core/log_sink.hpp"

namespace fuzzing {

// Reads bytes as a POF file into the two slots.
void read_pof(const uint8_t *bytes, std::size_t size, ImageSlot (&slots)[2], bool debug,
              const romwright::LogSink &log);

// Reads a raw image of `zeros` zero bytes followed by tail. The zeros are
// made only where the reader reads them, so an image far larger than the
// input costs memory only when the reader allocates for it.
void read_raw(uint64_t zeros, const uint8_t *tail, std::size_t size, ImageSlot &primary,
              const romwright::LogSink &log);

} // namespace fuzzing
