// The raw loader and its option-bits search on arbitrary files: the input is
// a number of leading zero bytes and the file's tail (so that file sizes on
// both sides of the 128 KB search window cost small inputs). A file is
// refused, or loaded whole with its option bits where the search may find them.
//
// A file that holds no option bits may be up to 4 GiB long (its zeros cost no
// memory until the loader reads them): refusing it must not cost memory
// either, which libFuzzer's -malloc_limit_mb checks. ROMWRIGHT_FUZZ_LARGE_RAW=0
// in the environment keeps every file small.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/image/image_slot.hpp"
#include "fuzz/firmware_input.hpp"
#include "fuzz/fuzz_cases.hpp"
#include "fuzz/fuzz_support.hpp"

namespace {

constexpr uint64_t kSearchWindow = 0x20000;
constexpr uint64_t kExpectedOptionBitsSize = 128;

bool large_files_wanted() {
    const char *value = std::getenv("ROMWRIGHT_FUZZ_LARGE_RAW");
    return value == nullptr || std::strcmp(value, "0") != 0;
}

// Whether the loader's search would find 20 00 in a file of zeros then tail:
// only offsets inside the tail can hold it.
bool holds_option_bits(uint64_t zeros, const std::vector<uint8_t> &tail) {
    const uint64_t size = zeros + tail.size();
    if (size <= kSearchWindow) return false;
    uint64_t at = size - kSearchWindow;
    if (at < zeros) at += (zeros - at + 1) / 2 * 2;  // the first searched offset in the tail
    for (; at + kExpectedOptionBitsSize <= size; at += 2)
        if (tail[at - zeros] == 0x20 && tail[at - zeros + 1] == 0x00) return true;
    return false;
}

// The hole cut to a small file, or in large mode the input's full 32-bit
// count for a file that the loader has to refuse.
uint64_t hole_for(const fuzzing::RawCase &c) {
    static const bool large = large_files_wanted();
    const uint64_t small = c.zeros & fuzzing::kMaxRawZeros;
    if (!large || holds_option_bits(c.zeros, c.tail)) return small;
    return c.zeros;
}

void expect_loaded(const ImageSlot &slot, uint64_t zeros, const fuzzing::RawCase &c) {
    const uint64_t size = zeros + c.tail.size();
    fuzzing::expect(slot.data.size() == size, "the whole file is loaded");
    fuzzing::expect(std::equal(c.tail.begin(), c.tail.end(), slot.data.end() - static_cast<long>(c.tail.size())),
                    "the file's bytes are loaded as they are");
    fuzzing::expect(size > kSearchWindow, "only a file beyond the search window has option bits");
    const uint64_t start = slot.option_bits_start;
    fuzzing::expect(slot.option_bits_end == start + kExpectedOptionBitsSize && slot.option_bits_end <= size,
                    "the option-bits block lies inside the file");
    fuzzing::expect(start >= size - kSearchWindow && (start - (size - kSearchWindow)) % 2 == 0,
                    "the option bits are at a searched offset");
    fuzzing::expect(slot.data[start] == 0x20 && slot.data[start + 1] == 0x00, "the option bits begin with 20 00");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const fuzzing::RawCase c = fuzzing::decode_raw(data, size);
    const uint64_t zeros = hole_for(c);
    ImageSlot slot;
    try {
        fuzzing::read_raw(zeros, c.tail.data(), c.tail.size(), slot, fuzzing::reading_log());
    } catch (const std::runtime_error &) {
        return 0;
    }
    expect_loaded(slot, zeros, c);
    return 0;
}
