#include "image_maker.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include <fmt/format.h>

namespace mkimage {

namespace {

// ---------------------------------------------------------------- boards

// Kinds 25, 29, 30 and 33 sit behind a flash controller that works in
// 256 KB sectors; every other board is programmed page by page.
const std::vector<BoardModel> kBoardModels = {
    {"ZEN5100", 1, 0x5100, false},  {"ZEN5101", 2, 0x5101, false},  {"ZEN5102", 3, 0x5102, false},
    {"ZEN5103", 4, 0x5103, false},  {"ZEN5105", 5, 0x5105, false},  {"ZEN5106", 6, 0x5106, false},
    {"ZEN5107", 7, 0x5107, false},  {"ZEN5108", 8, 0x5108, false},  {"ZEN5109", 9, 0x5109, false},
    {"ZEN5112", 10, 0x5112, false}, {"ZEN5110", 11, 0x5110, false}, {"ZEN5104", 12, 0x5104, false},
    {"ZEN5120", 13, 0x5120, false}, {"ZEN5130", 14, 0x5130, false}, {"ZEN5131", 15, 0x5131, false},
    {"ZEN5140", 16, 0x5140, false}, {"ZEN5141", 17, 0x5141, false}, {"ZEN5132", 18, 0x5132, false},
    {"ZEN5133", 19, 0x5133, false}, {"ZEN5111", 20, 0x5111, false}, {"ZEN5121", 21, 0x5121, false},
    {"ZEN5150", 22, 0x5150, false}, {"ZEN5152", 23, 0x5152, false}, {"ZEN5151", 24, 0x5151, false},
    {"ZEN5160", 25, 0x5160, true},  {"ZEN5161", 26, 0x5161, false}, {"ZEN5162", 27, 0x5162, false},
    {"ZEN5123", 28, 0x5123, false}, {"ZEN5170", 29, 0x5170, true},  {"ZEN5142", 30, 0x5142, true},
    {"ZEN5172", 31, 0x5172, false}, {"ZEN5180", 32, 0x5180, false}, {"ZEN5171", 33, 0x5171, true},
    {"ZEN5181", 34, 0x5181, false}, {"ZEN5190", 35, 0x5190, false}, {"ZEN5191", 36, 0x5191, false},
    {"ZEN5192", 37, 0x5192, false}, {"ZEN5193", 38, 0x5193, false}, {"ZEN5173", 39, 0x5173, false},
    {"ZEN5174", 40, 0x5174, false}, {"ZEN5182", 41, 0x5182, false}, {"ZEN5183", 42, 0x5183, false},
    {"ZEN5143", 43, 0x5143, false}, {"ZEN5144", 44, 0x5144, false}, {"ZEN5153", 45, 0x5153, false},
    {"ZEN5154", 46, 0x5154, false}, {"ZEN5163", 47, 0x5163, false}, {"ZEN5164", 48, 0x5164, false},
    {"ZEN5165", 49, 0x5165, false}, {"ZEN5175", 50, 0x5175, false}, {"ZEN5184", 51, 0x5184, false},
    {"ZEN5185", 52, 0x5185, false}, {"ZEN5194", 53, 0x5194, false}, {"ZEN5195", 54, 0x5195, false},
    {"ZEN5196", 55, 0x5196, false}, {"ZEN5197", 56, 0x5197, false}, {"ZEN5198", 57, 0x5198, false},
};

constexpr uint32_t kDefaultImageSize = 0x400000;
constexpr uint32_t kDefaultPage0Start = 0x20000;
constexpr uint32_t kDefaultPage0EndPageMode = 0x200000;
constexpr uint32_t kDefaultPage0EndSectorMode = 0x300000;
constexpr uint32_t kDefaultOptionBitsBack = 0x2000;
constexpr uint32_t kHeaderSize = 6;
constexpr uint32_t kWritePage = 32;
constexpr uint32_t kLad32WordsSize = 12;
constexpr uint16_t kUnknownTag = 0x23;
constexpr std::size_t kOtherPayload = 40;

uint32_t align_down(uint32_t value, uint32_t unit) { return value - value % unit; }
uint64_t align_up(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

bool overlaps(uint64_t a_start, uint64_t a_end, uint64_t b_start, uint64_t b_end) {
    return a_start < b_end && b_start < a_end;
}

void put16(std::vector<uint8_t> &out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void store16(std::vector<uint8_t> &bytes, std::size_t at, uint16_t value) {
    if (at < bytes.size()) bytes[at] = static_cast<uint8_t>(value);
    if (at + 1 < bytes.size()) bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

// SplitMix64: small, fast, and the same stream on every platform, so a seed
// names one image for good.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) / static_cast<double>(1ull << 53); }

private:
    uint64_t state_;
};

// ---------------------------------------------------------------- validation

void check_page_address(uint32_t address, const char *what) {
    if (address % kPageAlignment != 0 || address > kMaxPageAddress)
        throw MakerError(fmt::format("{} 0x{:08X} is not a multiple of 0x2000 up to 0x{:08X}", what, address,
                                     kMaxPageAddress));
}

void check_page(const PageRange &page, const char *name, uint32_t size) {
    check_page_address(page.start, fmt::format("{} start", name).c_str());
    check_page_address(page.end, fmt::format("{} end", name).c_str());
    if (page.start > page.end)
        throw MakerError(fmt::format("{} starts at 0x{:08X}, after its end 0x{:08X}", name, page.start, page.end));
    // The engine refuses an end equal to the image length as well.
    if (page.end >= size)
        throw MakerError(fmt::format("{} end 0x{:08X} must lie inside the image of {} bytes", name, page.end, size));
}

void check_header(const ImageRecipe &recipe) {
    if (uint64_t(recipe.header_offset) + kHeaderSize > recipe.size)
        throw MakerError(fmt::format("the image of {} bytes is too short for its header at 0x{:X}", recipe.size,
                                     recipe.header_offset));
}

void check_option_bits(const ImageRecipe &recipe, Format format) {
    const uint64_t start = recipe.option_bits_offset;
    const uint64_t end = start + kOptionBitsSize;
    // A POF reader accepts the offset only when the block ends before the data does.
    const bool fits = format == Format::pof ? end < recipe.size : end <= recipe.size;
    if (!fits)
        throw MakerError(fmt::format("the option bits at 0x{:08X} do not fit in the image of {} bytes",
                                     recipe.option_bits_offset, recipe.size));
    if (overlaps(start, end, recipe.header_offset, uint64_t(recipe.header_offset) + kHeaderSize))
        throw MakerError(fmt::format("the option bits at 0x{:08X} overlap the image header at 0x{:X}",
                                     recipe.option_bits_offset, recipe.header_offset));
    if (overlaps(start, end, recipe.page0.start, recipe.page0.end))
        throw MakerError(fmt::format("the option bits at 0x{:08X} overlap page_0", recipe.option_bits_offset));
    if (recipe.page1 && overlaps(start, end, recipe.page1->start, recipe.page1->end))
        throw MakerError(fmt::format("the option bits at 0x{:08X} overlap page_1", recipe.option_bits_offset));
}

// A raw file's option bits are found only by the bytes 20 00 at a searched
// offset in the last 128 KB, and those bytes are page_0's start address.
void check_raw_layout(const ImageRecipe &recipe) {
    if (recipe.size <= kRawSearchWindow)
        throw MakerError(fmt::format("a raw image needs more than 0x{:X} bytes, not {}", kRawSearchWindow, recipe.size));
    if (recipe.page0.start != kDefaultPage0Start)
        throw MakerError(fmt::format("a raw image needs page_0 to start at 0x{:08X} (its option bits are found by "
                                     "the bytes 20 00), not 0x{:08X}",
                                     kDefaultPage0Start, recipe.page0.start));
    const uint32_t window = recipe.size - kRawSearchWindow;
    if (recipe.option_bits_offset < window || (recipe.option_bits_offset - window) % 2 != 0)
        throw MakerError(fmt::format("a raw image of {} bytes needs its option bits at an offset from 0x{:08X} "
                                     "with the parity of the size, not 0x{:08X}",
                                     recipe.size, window, recipe.option_bits_offset));
}

void validate_layout(const ImageRecipe &recipe, Format format, bool header_may_be_short) {
    if (recipe.size == 0) throw MakerError("the image size must not be 0");
    if (!header_may_be_short) check_header(recipe);
    check_page(recipe.page0, "page_0", recipe.size);
    if (recipe.page1) check_page(*recipe.page1, "page_1", recipe.size);
    check_option_bits(recipe, format);
    if (!(recipe.blank_fraction >= 0.0 && recipe.blank_fraction <= 1.0))
        throw MakerError(fmt::format("the blank fraction {} is not between 0 and 1", recipe.blank_fraction));
    if (format == Format::rpd) check_raw_layout(recipe);
}

// ---------------------------------------------------------------- the picture

void fill_payload(std::vector<uint8_t> &bytes, const PageRange &page, Random &random, double blank_fraction) {
    const uint32_t end = std::min<uint32_t>(page.end, static_cast<uint32_t>(bytes.size()));
    uint32_t at = page.start;
    while (at < end) {
        const uint32_t run_pages = 1 + static_cast<uint32_t>(random.next() % 256);
        const bool blank = random.unit() < blank_fraction;
        const uint32_t run_end = static_cast<uint32_t>(std::min<uint64_t>(end, uint64_t(at) + run_pages * kWritePage));
        if (!blank) {
            for (uint32_t byte = at; byte < run_end; byte += 8) {
                uint64_t word = random.next();
                for (uint32_t k = byte; k < std::min(run_end, byte + 8); ++k, word >>= 8)
                    bytes[k] = static_cast<uint8_t>(word);
            }
        }
        at = run_end;
    }
}

// Breaks every 20 00 pair at a searched offset of the raw window outside the
// header and the option bits, so the raw loader can find only the block. Done
// for both formats, so one recipe gives the same picture in both.
void clear_false_option_bits(std::vector<uint8_t> &bytes, const ImageRecipe &recipe) {
    if (bytes.size() <= kRawSearchWindow) return;
    const uint64_t header_end = uint64_t(recipe.header_offset) + kHeaderSize;
    const uint64_t block_end = uint64_t(recipe.option_bits_offset) + kOptionBitsSize;
    auto in_header = [&](uint64_t at) { return at >= recipe.header_offset && at < header_end; };
    for (uint64_t at = bytes.size() - kRawSearchWindow; at + 1 < bytes.size(); at += 2) {
        if (bytes[at] != 0x20 || bytes[at + 1] != 0x00) continue;
        if (overlaps(at, at + 2, recipe.option_bits_offset, block_end)) continue;
        if (!in_header(at + 1))
            bytes[at + 1] = 0x01;
        else if (!in_header(at))
            bytes[at] = 0x21;
    }
}

void write_header(std::vector<uint8_t> &bytes, const ImageRecipe &recipe) {
    store16(bytes, recipe.header_offset, recipe.header.board_id);
    store16(bytes, std::size_t(recipe.header_offset) + 2, recipe.header.signature);
    store16(bytes, std::size_t(recipe.header_offset) + 4, recipe.header.word2);
}

void write_option_bits(std::vector<uint8_t> &bytes, const ImageRecipe &recipe) {
    const auto encoded = encode_option_bits(recipe.page0, recipe.page1);
    std::copy(encoded.begin(), encoded.end(), bytes.begin() + recipe.option_bits_offset);
}

std::vector<uint8_t> build_image(const ImageRecipe &recipe, Format format, bool header_may_be_short) {
    validate_layout(recipe, format, header_may_be_short);
    std::vector<uint8_t> bytes(recipe.size, 0xFF);
    Random random(recipe.seed);
    fill_payload(bytes, recipe.page0, random, recipe.blank_fraction);
    if (recipe.page1) fill_payload(bytes, *recipe.page1, random, recipe.blank_fraction);
    write_header(bytes, recipe);
    clear_false_option_bits(bytes, recipe);
    write_option_bits(bytes, recipe);
    if (format == Format::rpd) {
        const auto found = find_raw_option_bits(bytes);
        if (found != recipe.option_bits_offset)
            throw MakerError(fmt::format("the raw loader would find the option bits at {} instead of 0x{:08X}",
                                         found ? fmt::format("0x{:08X}", *found) : std::string("no offset"),
                                         recipe.option_bits_offset));
    }
    return bytes;
}

// ---------------------------------------------------------------- broken variants

const std::vector<BrokenInfo> kBrokenVariants = {
    {Broken::none, "none", true, true, "a valid file"},
    {Broken::truncate, "truncate:N", true, true, "the file cut after N bytes"},
    {Broken::bad_magic, "bad-magic", true, false, "\"POF\" followed by 0x01 instead of the zero byte"},
    {Broken::count_low, "count-low", true, false, "packet count one too small"},
    {Broken::count_high, "count-high", true, false, "packet count one too large"},
    {Broken::terminator_early, "terminator-early", true, false, "an extra terminator after the first packet"},
    {Broken::duplicate_data, "duplicate-data", true, false, "the image data packet twice"},
    {Broken::data_short, "data-short", true, false, "image data packet of size 8"},
    {Broken::data_oversize, "data-oversize", true, false, "image data packet size beyond the end of the file"},
    {Broken::data_size_max, "data-size-max", true, false, "image data packet size 0xFFFFFFFF"},
    {Broken::text_oversize, "text-oversize", true, false, "creator text size beyond the end of the file"},
    {Broken::text_size_max, "text-size-max", true, false, "creator text size 0xFFFFFFFF"},
    {Broken::other_oversize, "other-oversize", true, false, "unknown packet size beyond the end of the file"},
    {Broken::option_bits_first, "option-bits-first", true, false, "option-bits packet before the image data"},
    {Broken::no_option_bits, "no-option-bits", true, true, "no option bits (raw: the block blanked)"},
    {Broken::option_bits_ffffffff, "option-bits-ffffffff", true, false, "option-bits offset 0xFFFFFFFF"},
    {Broken::option_bits_wrap, "option-bits-wrap", true, false, "option-bits offset 0xFFFFFF90"},
    {Broken::option_bits_at_end, "option-bits-at-end", true, false, "option-bits offset = data length - 128"},
    {Broken::option_bits_beyond, "option-bits-beyond", true, false, "option-bits offset = data length"},
    {Broken::bad_crc, "bad-crc", true, false, "terminator CRC spoilt"},
    {Broken::no_data, "no-data", true, false, "no image data packet"},
    {Broken::empty_data, "empty-data", true, false, "image data packet of size 12 (no bytes)"},
    {Broken::page0_blank, "page0-blank", true, false, "page_0 option bytes all 0xFF"},
    {Broken::page0_start_outside, "page0-start-outside", true, false, "page_0 start beyond the image"},
    {Broken::page0_end_outside, "page0-end-outside", true, true, "page_0 end at or beyond the image end"},
    {Broken::page0_reversed, "page0-reversed", true, true, "page_0 start above its end"},
    {Broken::page1_start_outside, "page1-start-outside", true, true, "page_1 start beyond the image"},
    {Broken::page1_end_outside, "page1-end-outside", true, true, "page_1 end at or beyond the image end"},
    {Broken::page1_reversed, "page1-reversed", true, true, "page_1 start above its end"},
    {Broken::header_short, "header-short", true, true,
     "image cut inside its header (sector mode: 0x40004 bytes; page mode: POF data of 4 bytes)"},
    {Broken::trailing_bytes, "trailing-bytes", true, false, "valid, with 100 bytes after the terminator"},
    {Broken::unknown_packet, "unknown-packet", true, false, "valid, with an extra packet of tag 0x23"},
    {Broken::terminator_size_0, "terminator-size-0", true, false, "valid, terminator size field 0"},
    {Broken::terminator_size_100, "terminator-size-100", true, false, "valid, terminator size field 100"},
};

const BrokenInfo &broken_info(Broken variant) {
    for (const auto &info : kBrokenVariants)
        if (info.variant == variant) return info;
    throw MakerError("unknown broken variant");
}

bool is_layout_variant(Broken variant) {
    switch (variant) {
    case Broken::page0_blank:
    case Broken::page0_start_outside:
    case Broken::page0_end_outside:
    case Broken::page0_reversed:
    case Broken::page1_start_outside:
    case Broken::page1_end_outside:
    case Broken::page1_reversed:
        return true;
    default:
        return false;
    }
}

// Rewrites the option-bits bytes of a built image for the layout variants;
// the payload stays where the valid layout put it.
void spoil_layout(std::vector<uint8_t> &bytes, const ImageRecipe &recipe, Broken variant) {
    const bool page1_variant = variant == Broken::page1_start_outside || variant == Broken::page1_end_outside ||
                               variant == Broken::page1_reversed;
    if (page1_variant && !recipe.page1) throw MakerError("the page_1 variants need a page_1 (--page1)");
    PageRange page = page1_variant ? *recipe.page1 : recipe.page0;
    const uint32_t outside = static_cast<uint32_t>(align_up(recipe.size, kPageAlignment));
    uint8_t *block = bytes.data() + recipe.option_bits_offset + (page1_variant ? 4 : 0);
    switch (variant) {
    case Broken::page0_blank:
        std::fill(block, block + 4, 0xFF);
        return;
    case Broken::page0_start_outside:
    case Broken::page1_start_outside:
        page.start = outside;
        break;
    case Broken::page0_end_outside:
    case Broken::page1_end_outside:
        page.end = outside;
        break;
    default:  // reversed
        if (page.start < kPageAlignment) throw MakerError("a reversed page needs a start of at least 0x2000");
        page.end = page.start - kPageAlignment;
        break;
    }
    const auto start = encode_page_address(page.start);
    const auto end = encode_page_address(page.end);
    block[0] = start[0];
    block[1] = start[1];
    block[2] = end[0];
    block[3] = end[1];
}

// The layout a sector-mode image keeps when it is cut two bytes into its header.
ImageRecipe header_short_recipe(const ImageRecipe &recipe) {
    ImageRecipe cut = recipe;
    cut.size = recipe.header_offset + 4;
    cut.option_bits_offset = cut.size - kDefaultOptionBitsBack;
    cut.page0 = {kDefaultPage0Start, align_down(cut.option_bits_offset, kPageAlignment)};
    cut.page1.reset();
    return cut;
}

struct BuiltImage {
    ImageRecipe recipe;
    std::vector<uint8_t> bytes;
};

BuiltImage build_primary(const FileRecipe &file) {
    if (file.broken != Broken::header_short) {
        BuiltImage built{file.primary, build_image(file.primary, file.format, false)};
        if (is_layout_variant(file.broken)) spoil_layout(built.bytes, built.recipe, file.broken);
        return built;
    }
    if (file.primary.header_offset == 0) {
        if (file.format == Format::rpd)
            throw MakerError("header-short needs a sector-mode board for a raw image");
        BuiltImage built{file.primary, build_image(file.primary, file.format, false)};
        built.bytes.resize(4);
        return built;
    }
    ImageRecipe cut = header_short_recipe(file.primary);
    return BuiltImage{cut, build_image(cut, file.format, true)};
}

std::size_t find_packet(const PofFile &pof, uint16_t tag) {
    for (std::size_t k = 0; k < pof.packets.size(); ++k)
        if (pof.packets[k].tag == tag) return k;
    throw MakerError(fmt::format("no packet of tag {} to change", tag));
}

void set_option_bits_offset(PofFile &pof, uint32_t offset) {
    PofPacket &packet = pof.packets[find_packet(pof, kTagOptionBits)];
    std::vector<uint8_t> word;
    put32(word, offset);
    std::copy(word.begin(), word.end(), packet.payload.begin());
}

// A size field that reaches past the end of the file whatever precedes the
// packet: the payload plus the length of the whole file.
uint32_t beyond_end(const PofFile &pof, std::size_t payload) {
    return static_cast<uint32_t>(std::min<uint64_t>(0xFFFFFFFE, payload + pof.serialize().size()));
}

void apply_packet_variant(PofFile &pof, Broken variant, std::size_t data_length) {
    const auto at = [&](uint16_t tag) { return pof.packets.begin() + static_cast<long>(find_packet(pof, tag)); };
    const uint32_t packets = static_cast<uint32_t>(pof.packets.size());
    switch (variant) {
    case Broken::bad_magic: pof.magic[3] = 0x01; break;
    case Broken::count_low: pof.packet_count = packets - 1; break;
    case Broken::count_high: pof.packet_count = packets + 1; break;
    case Broken::terminator_early: pof.packets.insert(pof.packets.begin() + 1, terminator_packet()); break;
    case Broken::duplicate_data: pof.packets.insert(at(kTagData) + 1, *at(kTagData)); break;
    case Broken::data_short: at(kTagData)->payload.resize(8); break;
    case Broken::data_oversize: at(kTagData)->size_field = beyond_end(pof, data_length + kLad32WordsSize); break;
    case Broken::data_size_max: at(kTagData)->size_field = 0xFFFFFFFF; break;
    case Broken::text_oversize:
        at(kTagCreator)->size_field = beyond_end(pof, at(kTagCreator)->payload.size());
        break;
    case Broken::text_size_max: at(kTagCreator)->size_field = 0xFFFFFFFF; break;
    case Broken::other_oversize: {
        PofPacket other{kUnknownTag, std::vector<uint8_t>(kOtherPayload, 0x5A), std::nullopt};
        other.size_field = beyond_end(pof, kOtherPayload);
        pof.packets.insert(at(kTagComment) + 1, other);
        break;
    }
    case Broken::option_bits_first: {
        PofPacket option_bits = *at(kTagOptionBits);
        pof.packets.erase(at(kTagOptionBits));
        pof.packets.insert(at(kTagData), option_bits);
        break;
    }
    case Broken::no_option_bits: pof.packets.erase(at(kTagOptionBits)); break;
    case Broken::option_bits_ffffffff: set_option_bits_offset(pof, 0xFFFFFFFF); break;
    case Broken::option_bits_wrap: set_option_bits_offset(pof, 0xFFFFFF90); break;
    case Broken::option_bits_at_end:
        set_option_bits_offset(pof, static_cast<uint32_t>(data_length - kOptionBitsSize));
        break;
    case Broken::option_bits_beyond: set_option_bits_offset(pof, static_cast<uint32_t>(data_length)); break;
    case Broken::bad_crc: pof.crc_xor = 0x0001; break;
    case Broken::no_data: pof.packets.erase(at(kTagData)); break;
    case Broken::empty_data: at(kTagData)->payload.resize(kLad32WordsSize); break;
    case Broken::trailing_bytes: pof.trailing.assign(100, 0xA5); break;
    case Broken::unknown_packet: {
        PofPacket other{kUnknownTag, {}, std::nullopt};
        for (uint32_t k = 0; k < 300; ++k) other.payload.push_back(static_cast<uint8_t>(k * 7));
        pof.packets.insert(at(kTagComment) + 1, other);
        break;
    }
    case Broken::terminator_size_0: at(kTagTerminator)->size_field = 0; break;
    case Broken::terminator_size_100: at(kTagTerminator)->size_field = 100; break;
    default: break;
    }
}

std::vector<uint8_t> make_pof(const FileRecipe &file) {
    const BuiltImage primary = build_primary(file);
    PofFile pof;
    pof.packets.push_back(text_packet(kTagCreator, "romwright-mkimage"));
    pof.packets.push_back(text_packet(kTagDeviceName, file.device_name.empty() ? "CFG_FLASH" : file.device_name));
    pof.packets.push_back(text_packet(kTagComment, fmt::format("seed {}", primary.recipe.seed)));
    pof.packets.push_back(data_packet(kTagData, primary.bytes));
    pof.packets.push_back(
        option_bits_packet(kTagOptionBits, primary.recipe.option_bits_offset, section_table(primary.recipe)));
    if (file.secondary) {
        const auto secondary = build_image(*file.secondary, Format::pof, false);
        pof.packets.push_back(data_packet(kTagSecondaryData, secondary));
        pof.packets.push_back(option_bits_packet(kTagSecondaryOptionBits, file.secondary->option_bits_offset,
                                                 section_table(*file.secondary)));
    }
    pof.packets.push_back(terminator_packet());
    apply_packet_variant(pof, file.broken, primary.bytes.size());
    return pof.serialize();
}

std::vector<uint8_t> make_rpd(const FileRecipe &file) {
    if (file.secondary) throw MakerError("a raw image cannot carry a secondary image");
    BuiltImage primary = build_primary(file);
    if (file.broken == Broken::no_option_bits)
        std::fill_n(primary.bytes.begin() + primary.recipe.option_bits_offset, kOptionBitsSize, 0xFF);
    return std::move(primary.bytes);
}

uint64_t suffix_multiplier(char suffix) {
    switch (suffix) {
    case 'k':
    case 'K': return 1024;
    case 'm':
    case 'M': return 1024 * 1024;
    default: return 0;
    }
}

} // namespace

// ---------------------------------------------------------------- public

const std::vector<BoardModel> &board_models() { return kBoardModels; }

const BoardModel &find_board_model(const std::string &model) {
    for (const auto &board : kBoardModels)
        if (model == board.model) return board;
    throw MakerError(fmt::format("unknown board model \"{}\" (expected ZEN5100 to ZEN5198, e.g. ZEN5160)", model));
}

ImageRecipe default_recipe(const BoardModel &board, uint32_t size) {
    ImageRecipe recipe;
    recipe.size = size ? size : kDefaultImageSize;
    recipe.header_offset = board.sector_mode ? kSectorModeHeaderOffset : 0;
    recipe.header.board_id = board.board_id;
    recipe.option_bits_offset = recipe.size > kDefaultOptionBitsBack ? recipe.size - kDefaultOptionBitsBack : 0;
    const uint32_t page0_end = board.sector_mode ? kDefaultPage0EndSectorMode : kDefaultPage0EndPageMode;
    recipe.page0.start = kDefaultPage0Start;
    recipe.page0.end = std::max(kDefaultPage0Start,
                              std::min(page0_end, align_down(recipe.option_bits_offset, kPageAlignment)));
    return recipe;
}

ImageRecipe default_recipe(const std::string &model, uint32_t size) { return default_recipe(find_board_model(model), size); }

ImageRecipe default_secondary(const ImageRecipe &primary) {
    ImageRecipe secondary = primary;
    secondary.header_offset = 0;
    secondary.seed = primary.seed + 1;
    secondary.header.word2 = primary.header.word2 == 0x90 ? 0x10 : 0x90;
    return secondary;
}

std::array<uint8_t, 2> encode_page_address(uint32_t address) {
    check_page_address(address, "page address");
    return {static_cast<uint8_t>((address >> 12) & 0xFE), static_cast<uint8_t>(address >> 20)};
}

std::array<uint8_t, 8> encode_option_bits(const PageRange &page0, const std::optional<PageRange> &page1) {
    std::array<uint8_t, 8> bytes;
    bytes.fill(0xFF);
    const uint32_t addresses[4] = {page0.start, page0.end, page1 ? page1->start : 0, page1 ? page1->end : 0};
    const int used = page1 ? 4 : 2;
    for (int k = 0; k < used; ++k) {
        const auto pair = encode_page_address(addresses[k]);
        bytes[2 * k] = pair[0];
        bytes[2 * k + 1] = pair[1];
    }
    return bytes;
}

void validate(const ImageRecipe &recipe, Format format) { validate_layout(recipe, format, false); }

std::vector<uint8_t> make_image(const ImageRecipe &recipe, Format format) { return build_image(recipe, format, false); }

std::optional<uint32_t> find_raw_option_bits(const std::vector<uint8_t> &bytes) {
    if (bytes.size() <= kRawSearchWindow || bytes.size() > 0xFFFFFFFFull) return std::nullopt;
    const std::size_t last = bytes.size() - kOptionBitsSize;
    for (std::size_t at = bytes.size() - kRawSearchWindow; at <= last; at += 2)
        if (bytes[at] == 0x20 && bytes[at + 1] == 0x00) return static_cast<uint32_t>(at);
    return std::nullopt;
}

uint16_t crc16_x25(const uint8_t *bytes, std::size_t length) {
    uint16_t crc = 0xFFFF;
    for (std::size_t k = 0; k < length; ++k) {
        crc ^= bytes[k];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
    }
    return static_cast<uint16_t>(crc ^ 0xFFFF);
}

PofPacket text_packet(uint16_t tag, const std::string &text) {
    PofPacket packet{tag, std::vector<uint8_t>(text.begin(), text.end()), std::nullopt};
    packet.payload.push_back(0);
    return packet;
}

PofPacket data_packet(uint16_t tag, const std::vector<uint8_t> &image) {
    PofPacket packet{tag, {}, std::nullopt};
    packet.payload.reserve(kLad32WordsSize + image.size());
    put32(packet.payload, 0);
    put32(packet.payload, 0);
    put32(packet.payload, static_cast<uint32_t>(image.size()));
    packet.payload.insert(packet.payload.end(), image.begin(), image.end());
    return packet;
}

PofPacket option_bits_packet(uint16_t tag, uint32_t offset, const std::string &table) {
    // The offset, then the text table with its terminating zero, as real files carry it.
    PofPacket packet{tag, std::vector<uint8_t>(4 + (table.empty() ? 0 : table.size() + 1)), std::nullopt};
    for (int i = 0; i < 4; ++i) packet.payload[i] = static_cast<uint8_t>(offset >> (8 * i));
    std::copy(table.begin(), table.end(), packet.payload.begin() + 4);
    return packet;
}

PofPacket terminator_packet() { return PofPacket{kTagTerminator, {}, std::nullopt}; }

std::string section_table(const ImageRecipe &recipe) {
    std::string table = fmt::format("mPage_0 {:08X} {:08X};", recipe.page0.start, recipe.page0.end - 1);
    if (recipe.page1) table += fmt::format("mPage_1 {:08X} {:08X};", recipe.page1->start, recipe.page1->end - 1);
    return table;
}

std::vector<uint8_t> PofFile::serialize() const {
    std::vector<uint8_t> out(magic.begin(), magic.end());
    put32(out, version);
    put32(out, packet_count.value_or(static_cast<uint32_t>(packets.size())));
    for (const auto &packet : packets) {
        const bool computed_crc = packet.tag == kTagTerminator && packet.payload.empty();
        put16(out, packet.tag);
        put32(out, packet.size_field.value_or(computed_crc ? 2u : static_cast<uint32_t>(packet.payload.size())));
        if (computed_crc)
            put16(out, static_cast<uint16_t>(crc16_x25(out.data(), out.size()) ^ crc_xor));
        else
            out.insert(out.end(), packet.payload.begin(), packet.payload.end());
    }
    out.insert(out.end(), trailing.begin(), trailing.end());
    return out;
}

const std::vector<BrokenInfo> &broken_variants() { return kBrokenVariants; }

Broken parse_broken(const std::string &name) {
    const std::string base = name.substr(0, name.find(':'));
    for (const auto &info : kBrokenVariants) {
        const std::string known(info.name);
        if (known.substr(0, known.find(':')) == base) return info.variant;
    }
    throw MakerError(fmt::format("unknown broken variant \"{}\" (see --help)", name));
}

std::vector<uint8_t> make_file(const FileRecipe &recipe) {
    const BrokenInfo &info = broken_info(recipe.broken);
    const bool applies = recipe.format == Format::pof ? info.for_pof : info.for_rpd;
    if (!applies)
        throw MakerError(fmt::format("the broken variant {} cannot be made as a {} file", info.name,
                                     recipe.format == Format::pof ? "POF" : "raw"));
    std::vector<uint8_t> bytes = recipe.format == Format::pof ? make_pof(recipe) : make_rpd(recipe);
    if (recipe.broken == Broken::truncate) {
        if (recipe.broken_arg >= bytes.size())
            throw MakerError(
                fmt::format("truncate:{} keeps the whole file of {} bytes", recipe.broken_arg, bytes.size()));
        bytes.resize(static_cast<std::size_t>(recipe.broken_arg));
    }
    return bytes;
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (out) out.close();
    if (!out) throw MakerError(fmt::format("cannot write {}: {}", path, std::strerror(errno)));
}

uint64_t parse_number(const std::string &text, const std::string &what) {
    std::string digits = text;
    uint64_t multiplier = 1;
    if (!digits.empty() && suffix_multiplier(digits.back())) {
        multiplier = suffix_multiplier(digits.back());
        digits.pop_back();
    }
    const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    const std::string body = hex ? digits.substr(2) : digits;
    const char *allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (body.empty() || body.find_first_not_of(allowed) != std::string::npos || body.size() > 16)
        throw MakerError(fmt::format("{}: \"{}\" is not a number (decimal or 0x hex, optional K or M)", what, text));
    const uint64_t value = std::stoull(body, nullptr, hex ? 16 : 10);
    if (value > UINT64_MAX / multiplier) throw MakerError(fmt::format("{}: \"{}\" is too large", what, text));
    return value * multiplier;
}

PageRange parse_range(const std::string &text, const std::string &what) {
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        throw MakerError(fmt::format("{}: \"{}\" is not a range START:END", what, text));
    const uint64_t start = parse_number(text.substr(0, colon), what);
    const uint64_t end = parse_number(text.substr(colon + 1), what);
    if (start > 0xFFFFFFFFull || end > 0xFFFFFFFFull)
        throw MakerError(fmt::format("{}: \"{}\" does not fit 32 bits", what, text));
    return {static_cast<uint32_t>(start), static_cast<uint32_t>(end)};
}

} // namespace mkimage
