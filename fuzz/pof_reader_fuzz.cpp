// The POF reader on arbitrary files: every input is a whole file, read with
// the detailed log on. A file is refused or fills the slots with no more
// image data than it carries, and an option-bits block only where the
// block ends inside its slot's data.
#include <cstddef>
#include <cstdint>
#include <ios>
#include <stdexcept>

#include <romwright/error.hpp>

#include "engine/image/image_slot.hpp"
#include "fuzz/firmware_input.hpp"
#include "fuzz/fuzz_support.hpp"

namespace {

void expect_option_bits_inside(const ImageSlot &slot) {
    if (slot.option_bits_start == 0 && slot.option_bits_end == 0) return;
    fuzzing::expect(uint64_t(slot.option_bits_start) + 128 == slot.option_bits_end,
                    "the option-bits block is 128 bytes long");
    fuzzing::expect(slot.option_bits_end < slot.data.size(), "the option-bits block ends inside the slot's data");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    ImageSlot slots[2];
    try {
        fuzzing::read_pof(data, size, slots, true, fuzzing::reading_log());
    } catch (const romwright::error &) {  // refusals: the image, or the bytes ending early
        return 0;
    }
    fuzzing::expect(slots[0].data.size() + slots[1].data.size() <= size, "the image data comes from the file");
    expect_option_bits_inside(slots[0]);
    expect_option_bits_inside(slots[1]);
    return 0;
}
