#include "engine/image/raw_image.hpp"

#include <ios>
#include <optional>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/image/firmware_file.hpp"
#include "engine/image/hex_dump.hpp"

namespace romwright {

namespace {

// The option bits lie in the last 128 KB of a raw image and begin with the
// bytes 20 00: page_0's start address 0x20000 as the block encodes it.
constexpr uint64_t kSearchWindow = 0x20000;
constexpr uint16_t kOptionBitsMark = 0x0020;
constexpr uint64_t kMaxImageSize = 0xFFFFFFFF;
constexpr uint32_t kDumpWidth = 16;

const char *const kNoOptionBits = "Error: Unable to find option bits in binary file";

// Offset within the window of the first 20 00 pair at an even distance from
// its start, up to the last place a whole block fits.
std::optional<uint32_t> find_option_bits(const uint8_t *window, std::size_t length) {
    for (std::size_t at = 0; at + kOptionBitsSize <= length; at += 2)
        if ((window[at] | window[at + 1] << 8) == kOptionBitsMark) return static_cast<uint32_t>(at);
    return std::nullopt;
}

uint32_t decode_address(uint8_t low, uint8_t high) { return uint32_t(low & 0xFE) << 12 | uint32_t(high) << 20; }

bool all_ff(const uint8_t *four) { return four[0] == 0xFF && four[1] == 0xFF && four[2] == 0xFF && four[3] == 0xFF; }

struct PageMessages {
    const char *not_found;
    const char *start;
    const char *end;
    const char *range;
};

const PageMessages kPage0Messages = {
    "Error: page_0 not found",
    "Error: Invalid page_0 start address -- {:08X}",
    "Error: Invalid page_0 end address -- {:08X}",
    "Error: Invalid page_0 range -- {:08X} to {:08X}",
};
const PageMessages kPage1Messages = {
    "Error: page_1 not found",
    "Error: Invalid page_1 start address -- {:08X}",
    "Error: Invalid page_1 end address -- {:08X}",
    "Error: Invalid page_1 range -- {:08X} to {:08X}",
};

void check_page(uint32_t start, uint32_t end, uint32_t length, const PageMessages &messages) {
    if (start >= length) throw romwright::error(error_kind::image, fmt::format(fmt::runtime(messages.start), start));
    if (end >= length) throw romwright::error(error_kind::image, fmt::format(fmt::runtime(messages.end), end));
    if (start > end) throw romwright::error(error_kind::image, fmt::format(fmt::runtime(messages.range), start, end));
}

// The layout can only be read from eight bytes inside the data, and the
// detailed log dumps the whole block, so both must lie within it.
void check_option_bits_inside(const ImageSlot &slot) {
    const uint64_t length = slot.data.size();
    if (length == 0) throw romwright::error(error_kind::image, "Error: No image data to read the option bits from");
    if (slot.option_bits_end == 0)
        throw romwright::error(error_kind::image, "Error: Unable to find option bits in image");
    if (uint64_t(slot.option_bits_start) + kPageLayoutBytes > length || slot.option_bits_end > length ||
        slot.option_bits_end < slot.option_bits_start)
        throw romwright::error(error_kind::image,
                               fmt::format("Error: Option bits at 0x{:08X} to 0x{:08X} lie outside the image of {} "
                                           "bytes",
                                           slot.option_bits_start, slot.option_bits_end, length));
}

void log_selection(const PageSelection &selection, const LogSink &log) {
    log.info("Auto select pages = {}\n", selection.auto_select_pages);
    log.info("Write page 0 = {}\n", selection.write_page0);
    log.info("Write page 1 = {}\n", selection.write_page1);
    log.info("Write option bits = {}\n", selection.write_option_bits);
}

void log_layout(const ImageSlot &slot, const PageLayout &layout, const LogSink &log) {
    log.info("Option bits\n");
    hex_dump(log, slot.data.data() + slot.option_bits_start, slot.option_bits_end - slot.option_bits_start,
             slot.option_bits_start, kDumpWidth);
    log.info("Page_0 start 0x{:08X} end 0x{:08X}\n", layout.page0_start, layout.page0_end);
    if (layout.page1_present) log.info("Page_1 start 0x{:08X} end 0x{:08X}\n", layout.page1_start, layout.page1_end);
    log.info("Option bits start 0x{:08X} end 0x{:08X}\n", slot.option_bits_start, slot.option_bits_end);
}

} // namespace

void load_binary(FirmwareSource &source, ImageSlot &primary, const LogSink &log) {
    const uint64_t size = source.size();
    log.info("Loading binary file {} bytes.\n", size);
    // Flash addresses and the image length are 32-bit everywhere after this.
    if (size > kMaxImageSize)
        throw romwright::error(error_kind::image,
                               fmt::format("Error: Binary file of {} bytes is too large; an image holds at most "
                                           "{} bytes",
                                           size, kMaxImageSize));
    if (size <= kSearchWindow) throw romwright::error(error_kind::image, kNoOptionBits);

    // The window first: without option bits in it nothing else is read.
    const uint64_t window_start = size - kSearchWindow;
    std::vector<uint8_t> window(kSearchWindow);
    source.read(window_start, window.data(), window.size());
    const auto found = find_option_bits(window.data(), window.size());
    if (!found) throw romwright::error(error_kind::image, kNoOptionBits);

    std::vector<uint8_t> data;
    data.reserve(static_cast<std::size_t>(size));
    append_from(source, 0, window_start, data);
    data.insert(data.end(), window.begin(), window.end());
    primary.data = std::move(data);
    primary.option_bits_start = static_cast<uint32_t>(window_start) + *found;
    primary.option_bits_end = primary.option_bits_start + kOptionBitsSize;
}

void load_binary_file(const std::string &path, ImageSlot &primary, const LogSink &log) {
    std::optional<FirmwareFile> file = FirmwareFile::open(path);
    if (!file) throw romwright::error(error_kind::file, fmt::format("Error: Unable to open binary file {}", path));
    load_binary(*file, primary, log);
}

void read_page_layout(const ImageSlot &slot, PageSelection &selection, PageLayout &layout, bool debug,
                      const LogSink &log) {
    const LogSink verbose = debug ? log : LogSink();
    if (selection.auto_select_pages) {
        selection.write_page0 = true;
        selection.write_page1 = false;
    }
    log_selection(selection, verbose);

    check_option_bits_inside(slot);
    const uint8_t *bits = slot.data.data() + slot.option_bits_start;
    const uint32_t length = static_cast<uint32_t>(slot.data.size());

    if (all_ff(bits)) throw romwright::error(error_kind::image, kPage0Messages.not_found);
    layout.page0_start = decode_address(bits[0], bits[1]);
    layout.page0_end = decode_address(bits[2], bits[3]);
    if (selection.write_page0) check_page(layout.page0_start, layout.page0_end, length, kPage0Messages);

    layout.page1_present = !all_ff(bits + 4);
    if (!layout.page1_present) {
        if (selection.write_page1) throw romwright::error(error_kind::image, kPage1Messages.not_found);
    } else {
        layout.page1_start = decode_address(bits[4], bits[5]);
        layout.page1_end = decode_address(bits[6], bits[7]);
        if (selection.write_page1) check_page(layout.page1_start, layout.page1_end, length, kPage1Messages);
    }
    log_layout(slot, layout, verbose);
}

} // namespace romwright
