// Raw images (".rpd"), the option-bits block inside an image, and the page
// layout that the option bits describe.
#pragma once

#include <cstdint>
#include <string>

#include "engine/image/firmware_file.hpp"
#include "engine/image/image_slot.hpp"
#include "engine/core/log_sink.hpp"

namespace romwright {

// Byte ranges of page_0 and page_1 in the flash; ends are exclusive.
struct PageLayout {
    uint32_t page0_start = 0;
    uint32_t page0_end = 0;
    uint32_t page1_start = 0;
    uint32_t page1_end = 0;
    bool page1_present = false;
};

// The option bits' first bytes, which describe the page layout.
inline constexpr uint32_t kPageLayoutBytes = 8;

struct PageSelection {
    bool auto_select_pages = true;
    bool write_page0 = true;
    bool write_page1 = false;
    bool write_option_bits = true;
};

// Loads a raw image into primary and finds its option bits in the last
// 128 KB. The option bits are looked for before the rest is read, so input
// without them costs one 128 KB window, whatever its size. Throws on input
// that cannot be read or holds no option bits; primary is changed only when
// the load succeeds.
void load_binary(FirmwareSource &source, ImageSlot &primary, const LogSink &log);

// The same from the firmware file at path (UTF-8).
void load_binary_file(const std::string &path, ImageSlot &primary, const LogSink &log);

// Decodes the page layout from the slot's option bits into layout (page_1
// keeps its earlier values when absent), applies auto_select_pages to
// selection, and checks the selected pages against the image length.
void read_page_layout(const ImageSlot &slot, PageSelection &selection, PageLayout &layout, bool debug,
                      const LogSink &log);

} // namespace romwright
