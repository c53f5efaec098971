// How the fuzz targets hand their input to the image readers. The readers
// take a file path, so the input goes into an anonymous in-memory file whose
// /proc/self/fd path they open. Each function below is the only place that
// calls its reader: once the readers take bytes from memory, the call in its
// body is the one line to change.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/image_slot.hpp"
#include "engine/log_sink.hpp"

namespace fuzzing {

// Reads bytes as a POF file into the two slots.
void read_pof(const uint8_t *bytes, std::size_t size, ImageSlot (&slots)[2], bool debug,
              const romwright::LogSink &log);

// Reads a raw image file of `zeros` zero bytes followed by tail. The zeros
// are a hole in the file, so a file far larger than the input costs memory
// only when the reader allocates for it.
void read_raw(uint64_t zeros, const uint8_t *tail, std::size_t size, ImageSlot &primary,
              const romwright::LogSink &log);

} // namespace fuzzing
