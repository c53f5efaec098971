// What the structured fuzz targets read from their input, and how the seed
// writer spells the same cases as bytes. Each target decodes its whole input
// into one case; every byte string is some case, and decoding keeps every
// length within what one execution can afford.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzing {

// Bytes written into an otherwise blank (0xFF) image at a byte offset.
struct Patch {
    uint32_t at = 0;
    std::vector<uint8_t> bytes;
};

// A raw image file: a run of zero bytes (a hole in the file, so a large one
// costs no memory until a reader allocates for it), then the tail. The
// target cuts the count to kMaxRawZeros bits unless it wants large files.
struct RawCase {
    uint32_t zeros = 0;
    std::vector<uint8_t> tail;
};
inline constexpr uint32_t kMaxRawZeros = 0x3FFFF;  // files up to 256 KB plus the tail

// The page layout read from an image's option bits.
struct LayoutCase {
    bool auto_select_pages = true;
    bool write_page0 = true;
    bool write_page1 = false;
    bool write_option_bits = true;
    bool debug = false;
    uint32_t option_bits_start = 0;
    uint32_t option_bits_end = 0;
    uint32_t length = 0;  // image length; the image is blank but for the patches
    std::vector<Patch> patches;
};
inline constexpr uint32_t kMaxLayoutLength = 0x200000;

// An image against an arbitrary board identity.
struct CheckCase {
    bool debug = false;
    bool sector_mode = false;
    bool revision_fails = false;
    uint32_t kind = 0;
    uint16_t board_id = 0;
    uint32_t variant = 0;
    uint8_t revision_major = 0;
    uint8_t revision_minor = 0;
    uint32_t padding = 0;  // blank bytes before the primary image's bytes
    std::vector<uint8_t> primary;
    std::vector<uint8_t> secondary;
};
inline constexpr uint32_t kMaxCheckPadding = 0x7FFFF;

// A plan for an image, from a layout given outright or read from the image.
struct PlanCase {
    bool sector_mode = false;
    bool write_page0 = true;
    bool write_page1 = false;
    bool write_option_bits = true;
    bool page1_present = false;
    bool through_layout = false;  // read the layout from the option bits first
    bool auto_select_pages = true;
    uint32_t page0_start = 0, page0_end = 0, page1_start = 0, page1_end = 0;
    uint32_t option_bits_start = 0, option_bits_end = 0;
    uint32_t length = 0;
    std::vector<Patch> patches;
};
inline constexpr uint32_t kMaxPlanLength = 0x80000;  // 4 sectors of 128 KB, 2 of 256 KB

RawCase decode_raw(const uint8_t *data, std::size_t size);
LayoutCase decode_layout(const uint8_t *data, std::size_t size);
CheckCase decode_check(const uint8_t *data, std::size_t size);
PlanCase decode_plan(const uint8_t *data, std::size_t size);

std::vector<uint8_t> encode(const RawCase &c);
std::vector<uint8_t> encode(const LayoutCase &c);
std::vector<uint8_t> encode(const CheckCase &c);
std::vector<uint8_t> encode(const PlanCase &c);

} // namespace fuzzing
