// What every fuzz target shares: a log sink that reads each line it gets,
// the check that turns a broken promise into a crash libFuzzer reports, and
// a blank image reused from one input to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/core/log_sink.hpp"
#include "fuzz/fuzz_cases.hpp"

namespace fuzzing {

// Takes every log line and reads it to its end, so a line that is not a
// proper C string shows up under AddressSanitizer.
romwright::LogSink reading_log();

// Aborts with the text when a property the code promises does not hold.
void expect(bool holds, const char *property);

// An image of the given length, blank (0xFF) but for the patches (each cut
// where the image ends), built in a vector the caller keeps between inputs:
// growing it costs only the new bytes, and the patches are blanked again
// when this goes out of scope. The vector's spare capacity is poisoned
// (_GLIBCXX_SANITIZE_VECTOR), so reads past its length are still reported.
class BlankImage {
public:
    BlankImage(std::vector<uint8_t> &data, uint32_t length, const std::vector<Patch> &patches);
    ~BlankImage();
    BlankImage(const BlankImage &) = delete;
    BlankImage &operator=(const BlankImage &) = delete;

private:
    std::vector<uint8_t> &data_;
    std::vector<std::pair<std::size_t, std::size_t>> written_;  // offset, length
};

} // namespace fuzzing
