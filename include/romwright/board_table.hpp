// The board models: one row per board kind the device library reports (1 to
// 57), holding everything the engine knows about a model. Identification, the
// image check, the file-name check of both front ends and the device
// binding's names all read this table; nothing else keys on a kind number.
// (The simulated library and the image maker keep tables of their own on
// purpose, as independent doubles; a test compares the three.)
#pragma once

#include <cstddef>
#include <cstdint>

namespace romwright {

// What the engine does with a board of the kind.
enum class UpdatePath {
    unsupported,     // an old model, refused: "Error: Unsupported board type"
    not_programmed,  // the engine does not program it ("Unknown board type"); the driver's services may
    page_mode,       // the device library's page calls: 128 KB erase sectors, 32-byte pages
    sector_mode,     // the flash controller behind the FPGA: 256 KB sectors
};

// The oldest FPGA and CPLD firmware with which the board's flash can be
// updated at all.
struct FirmwareFloor {
    uint32_t fpga_major, fpga_minor;
    uint32_t cpld_major, cpld_minor;
};

// Where a board's variant comes from; the image's word 2 must carry it.
enum class VariantRule {
    none,                // variant 0; word 2 is not looked at
    register0_low_byte,  // the low byte of board register 0, checked against word 2's low byte
};

// Which of a file's two images a board takes.
enum class RevisionRule {
    none,           // the primary image
    zen5120_marks,  // revision 1.3 or later takes an image marked 0x90 in word 2, an
                    // earlier one an image not so marked: the primary if it fits, else the secondary
};

enum class Acceptance { always, debug_only };

// An image made for another board that a board accepts.
struct AcceptedImage {
    uint16_t image_id = 0;
    Acceptance when = Acceptance::always;
};

inline constexpr std::size_t kMostAcceptedImages = 3;

struct BoardModel {
    uint32_t kind;
    const char *designation;  // "ZEN5170", what a firmware file's name carries
    uint16_t board_id;        // the designation's digits read as hex (0x5170), as image headers name boards
    UpdatePath path;
    const FirmwareFloor *floor;  // null: any firmware will do
    VariantRule variant;
    RevisionRule revision;
    // Images made for other boards that this one accepts, when; the rest of
    // the array is unused. An image made for another board and not listed
    // here is refused.
    AcceptedImage accepted[kMostAcceptedImages];
    std::size_t accepted_count;
};

class BoardModels {
public:
    const BoardModel *begin() const noexcept;
    const BoardModel *end() const noexcept;
    std::size_t size() const noexcept;
};

// Every row, in kind order.
BoardModels board_models() noexcept;

// The row of a kind; null when the number is not a board kind.
const BoardModel *find_board_model(uint32_t kind) noexcept;
// The row whose board id this is; null when no model has it.
const BoardModel *find_board_model_by_id(uint16_t board_id) noexcept;

// The smallest kind number; numbers below it are refused as unsupported too.
inline constexpr uint32_t kFirstBoardKind = 1;

// Where a model's primary image carries its header: at 0, or in sector mode
// at 0x40000, the start of the second 256 KB sector.
inline constexpr uint32_t kSectorModeHeaderOffset = 0x40000;
uint32_t header_offset(const BoardModel &model) noexcept;

} // namespace romwright
