// The page layout read from the option bits, on arbitrary blocks, block
// offsets, image lengths and page options. A layout is refused, or every
// page that is to be written lies inside the image in order, and the block
// it was read from lies inside the image too.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "engine/image/image_slot.hpp"
#include "engine/image/raw_image.hpp"
#include "fuzz/fuzz_cases.hpp"
#include "fuzz/fuzz_support.hpp"

namespace {

constexpr uint32_t kAddressUnit = 0x2000;
constexpr uint32_t kLastAddress = 0x0FFFE000;

void expect_page(uint32_t start, uint32_t end, uint32_t length) {
    fuzzing::expect(start % kAddressUnit == 0 && end % kAddressUnit == 0, "page addresses count 8 KB units");
    fuzzing::expect(start <= kLastAddress && end <= kLastAddress, "page addresses fit 28 bits");
    fuzzing::expect(start < length && end < length && start <= end, "a page to write lies inside the image");
}

void expect_accepted(const ImageSlot &slot, const fuzzing::LayoutCase &c, const romwright::PageSelection &selection,
                     const romwright::PageLayout &layout) {
    fuzzing::expect(uint64_t(slot.option_bits_start) + 8 <= c.length, "the layout is read from inside the image");
    fuzzing::expect(slot.option_bits_end <= c.length && slot.option_bits_start <= slot.option_bits_end,
                    "the block dumped to the log lies inside the image");
    if (selection.auto_select_pages)
        fuzzing::expect(selection.write_page0 && !selection.write_page1, "automatic selection writes page_0 only");
    if (selection.write_page0) expect_page(layout.page0_start, layout.page0_end, c.length);
    if (selection.write_page1) {
        fuzzing::expect(layout.page1_present, "page_1 is written only when present");
        expect_page(layout.page1_start, layout.page1_end, c.length);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static ImageSlot slot;
    const fuzzing::LayoutCase c = fuzzing::decode_layout(data, size);
    const fuzzing::BlankImage image(slot.data, c.length, c.patches);
    slot.option_bits_start = c.option_bits_start;
    slot.option_bits_end = c.option_bits_end;

    romwright::PageSelection selection{c.auto_select_pages, c.write_page0, c.write_page1, c.write_option_bits};
    romwright::PageLayout layout;
    try {
        romwright::read_page_layout(slot, selection, layout, c.debug, fuzzing::reading_log());
    } catch (const std::runtime_error &) {
        return 0;
    }
    expect_accepted(slot, c, selection, layout);
    return 0;
}
