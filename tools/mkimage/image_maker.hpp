// The firmware image maker: writes flash images for Korvel digitizer boards
// as raw ".rpd" pictures of the flash or as ".pof" packet files, and the
// damaged variants that tests feed to the readers. It is an independent
// writer: it shares no code with the engine, so a round trip through the
// engine's readers checks both sides.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mkimage {

// A refused request (unknown board, layout that cannot work, bad number...).
class MakerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------- boards

struct BoardModel {
    const char *model;   // "ZEN5160"
    uint32_t kind;       // device-library board kind
    uint16_t board_id;   // the model number in hex digits: 0x5160
    bool sector_mode;    // flash programmed in 256 KB sectors, header at 0x40000
};

// The model designations of every board kind; throws MakerError for others.
const BoardModel &find_board_model(const std::string &model);
const std::vector<BoardModel> &board_models();

// ---------------------------------------------------------------- layout

inline constexpr uint32_t kOptionBitsSize = 128;
inline constexpr uint32_t kRawSearchWindow = 0x20000;    // option bits lie in the last 128 KB
inline constexpr uint32_t kSectorModeHeaderOffset = 0x40000;
inline constexpr uint32_t kPageAlignment = 0x2000;       // option-bits addresses count 8 KB units
inline constexpr uint32_t kMaxPageAddress = 0x0FFFE000;
inline constexpr uint16_t kDefaultSignature = 0x5731;

struct PageRange {
    uint32_t start = 0;  // first byte
    uint32_t end = 0;    // first byte after the page
};

// The six-byte header at the image's header offset.
struct HeaderWords {
    uint16_t board_id = 0;
    uint16_t signature = kDefaultSignature;
    uint16_t word2 = 0;
};

struct ImageRecipe {
    uint32_t size = 0;            // image length in bytes
    uint32_t header_offset = 0;   // 0, or 0x40000 for a sector-mode primary image
    HeaderWords header;
    PageRange page0;
    std::optional<PageRange> page1;
    uint32_t option_bits_offset = 0;
    uint64_t seed = 1;            // payload pseudo-random seed
    double blank_fraction = 0.25; // share of 32-byte pages left blank (0xFF) inside the pages
};

enum class Format { pof, rpd };

// Sensible layout for a board: 4 MiB image (when size is 0), page_0 from
// 0x20000 to 0x200000 (page mode) or 0x300000 (sector mode), cut short where
// the option bits begin, option bits at size - 0x2000.
ImageRecipe default_recipe(const BoardModel &board, uint32_t size = 0);
ImageRecipe default_recipe(const std::string &model, uint32_t size = 0);

// The secondary image a ZEN5120 POF file may carry: the primary's layout,
// header at 0, another seed, and a word 2 for the other board revision.
ImageRecipe default_secondary(const ImageRecipe &primary);

// Option-bits bytes 0 to 7 for the layout (an absent page_1 reads 0xFF).
std::array<uint8_t, 8> encode_option_bits(const PageRange &page0, const std::optional<PageRange> &page1);
// One page address as its low and high option-bits byte.
std::array<uint8_t, 2> encode_page_address(uint32_t address);

// Throws MakerError naming the first thing that makes the recipe unusable as
// the given format (raw files also need their option bits findable).
void validate(const ImageRecipe &recipe, Format format);

// The flash picture: payload inside the pages, header, option bits, 0xFF
// elsewhere. Validates for the format first.
std::vector<uint8_t> make_image(const ImageRecipe &recipe, Format format);

// Where the raw loader will find the option bits in a file of these bytes:
// the first little-endian 0x0020 at offsets size - 0x20000 + 2k up to size - 128.
std::optional<uint32_t> find_raw_option_bits(const std::vector<uint8_t> &bytes);

// CRC-16/X-25: reflected polynomial 0x8408, initial 0xFFFF, final XOR 0xFFFF.
uint16_t crc16_x25(const uint8_t *bytes, std::size_t length);

// ---------------------------------------------------------------- POF packets

inline constexpr uint16_t kTagCreator = 1;
inline constexpr uint16_t kTagDeviceName = 2;
inline constexpr uint16_t kTagComment = 3;
inline constexpr uint16_t kTagTerminator = 8;
inline constexpr uint16_t kTagData = 17;
inline constexpr uint16_t kTagOptionBits = 26;
inline constexpr uint16_t kTagSecondaryData = 0x8011;
inline constexpr uint16_t kTagSecondaryOptionBits = 0x801A;

struct PofPacket {
    uint16_t tag = 0;
    std::vector<uint8_t> payload;        // a terminator with no payload gets the CRC
    std::optional<uint32_t> size_field;  // written instead of the payload length
};

// A POF file as a list of packets, serialised with the packet count and the
// terminator's CRC worked out unless overridden.
struct PofFile {
    std::array<uint8_t, 4> magic{{'P', 'O', 'F', 0}};
    uint32_t version = 0x00010000;
    std::optional<uint32_t> packet_count;  // default: the number of packets
    std::vector<PofPacket> packets;
    uint16_t crc_xor = 0;                  // non-zero spoils every terminator's CRC
    std::vector<uint8_t> trailing;         // bytes after the last packet

    std::vector<uint8_t> serialize() const;
};

PofPacket text_packet(uint16_t tag, const std::string &text);
PofPacket data_packet(uint16_t tag, const std::vector<uint8_t> &image);
PofPacket option_bits_packet(uint16_t tag, uint32_t offset, const std::string &section_table = {});
PofPacket terminator_packet();
// The section-table text that follows the option-bits offset in real files.
std::string section_table(const ImageRecipe &recipe);

// ---------------------------------------------------------------- whole files

// Damage done on purpose; `none` writes a valid file.
enum class Broken {
    none,
    truncate,             // file cut after `broken_arg` bytes
    bad_magic,            // "POF" followed by 0x01 instead of the zero byte
    count_low,            // packet count one too small: "Too many packets"
    count_high,           // packet count one too large: terminator not last
    terminator_early,     // an extra terminator right after the first packet
    duplicate_data,       // the data packet twice
    data_short,           // data packet of size 8 (below the 12-byte address words)
    data_oversize,        // data packet size beyond the end of the file
    data_size_max,        // data packet size 0xFFFFFFFF
    text_oversize,        // creator text size beyond the end of the file
    text_size_max,        // creator text size 0xFFFFFFFF
    other_oversize,       // unknown packet size beyond the end of the file
    option_bits_first,    // option-bits packet before the data packet
    no_option_bits,       // no option-bits packet (raw: block blanked)
    option_bits_ffffffff, // option-bits offset 0xFFFFFFFF
    option_bits_wrap,     // option-bits offset 0xFFFFFF90 (wraps past zero when 128 is added)
    option_bits_at_end,   // option-bits offset = data length - 128 (not accepted)
    option_bits_beyond,   // option-bits offset = data length
    bad_crc,              // terminator CRC spoilt
    no_data,              // no data packet at all
    empty_data,           // data packet of size 12: no image bytes
    page0_blank,          // option bytes 0..3 all 0xFF
    page0_start_outside,  // page_0 start beyond the image
    page0_end_outside,    // page_0 end at or beyond the image's end
    page0_reversed,       // page_0 start above its end
    page1_start_outside,
    page1_end_outside,
    page1_reversed,
    header_short,         // image too short to hold its header
    trailing_bytes,       // valid, with bytes after the terminator
    unknown_packet,       // valid, with an extra packet of an unknown tag
    terminator_size_0,    // valid, terminator size field 0
    terminator_size_100,  // valid, terminator size field 100
};

struct BrokenInfo {
    Broken variant;
    const char *name;     // as given to --broken
    bool for_pof;
    bool for_rpd;
    const char *meaning;
};

const std::vector<BrokenInfo> &broken_variants();
// Parses "name" or "truncate:N"; throws MakerError for unknown names.
Broken parse_broken(const std::string &name);

struct FileRecipe {
    Format format = Format::pof;
    std::string device_name;            // device-name packet text, e.g. the model
    ImageRecipe primary;
    std::optional<ImageRecipe> secondary; // POF only
    Broken broken = Broken::none;
    uint64_t broken_arg = 0;            // truncate: bytes kept
};

// The whole file's bytes. Throws MakerError for a recipe that cannot be made.
std::vector<uint8_t> make_file(const FileRecipe &recipe);
// Writes bytes to path; throws MakerError naming the path on failure.
void write_file(const std::string &path, const std::vector<uint8_t> &bytes);

// Numbers as the program takes them: decimal or 0x hex, with an optional
// K (1024) or M (1024 * 1024) suffix. Throws MakerError naming `what`.
uint64_t parse_number(const std::string &text, const std::string &what);
PageRange parse_range(const std::string &text, const std::string &what);

} // namespace mkimage
