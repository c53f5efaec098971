// The board table: the model designation, board id and update path of every
// board kind, with the rules a few models add. The designations are part of
// what a user types (firmware file names must carry them).
#include <romwright/board_table.hpp>

#include <algorithm>
#include <initializer_list>
#include <iterator>

namespace romwright {
namespace {

// Older FPGA or CPLD firmware of a gated model cannot take a flash update.
constexpr FirmwareFloor kFlashUpdateFloor{8, 14, 9, 14};

constexpr UpdatePath Old = UpdatePath::unsupported;
constexpr UpdatePath Off = UpdatePath::not_programmed;
constexpr UpdatePath Page = UpdatePath::page_mode;
constexpr UpdatePath Sector = UpdatePath::sector_mode;

constexpr AcceptedImage always(uint16_t image_id) { return {image_id, Acceptance::always}; }
constexpr AcceptedImage with_debug(uint16_t image_id) { return {image_id, Acceptance::debug_only}; }

constexpr BoardModel model(uint32_t kind, const char *designation, uint16_t board_id, UpdatePath path,
                           std::initializer_list<AcceptedImage> accepted = {}, const FirmwareFloor *floor = nullptr,
                           VariantRule variant = VariantRule::none, RevisionRule revision = RevisionRule::none) {
    BoardModel row{kind, designation, board_id, path, floor, variant, revision, {}, 0};
    for (const AcceptedImage &image : accepted) row.accepted[row.accepted_count++] = image;
    return row;
}

constexpr BoardModel kModels[] = {
    model(1, "ZEN5100", 0x5100, Old),
    model(2, "ZEN5101", 0x5101, Old),
    model(3, "ZEN5102", 0x5102, Old),
    model(4, "ZEN5103", 0x5103, Old),
    model(5, "ZEN5105", 0x5105, Old),
    model(6, "ZEN5106", 0x5106, Old, {with_debug(0x5107), with_debug(0x5108)}),
    model(7, "ZEN5107", 0x5107, Old, {with_debug(0x5106), with_debug(0x5108)}),
    model(8, "ZEN5108", 0x5108, Old, {with_debug(0x5106), with_debug(0x5107)}),
    model(9, "ZEN5109", 0x5109, Old),
    model(10, "ZEN5112", 0x5112, Old),
    model(11, "ZEN5110", 0x5110, Page, {always(0x5111)}),
    model(12, "ZEN5104", 0x5104, Page),
    model(13, "ZEN5120", 0x5120, Page, {always(0x5121), always(0x5123)}, nullptr, VariantRule::none,
          RevisionRule::zen5120_marks),
    model(14, "ZEN5130", 0x5130, Page, {always(0x5131), always(0x5132), always(0x5133)}),
    model(15, "ZEN5131", 0x5131, Page, {with_debug(0x5130)}),
    model(16, "ZEN5140", 0x5140, Page, {always(0x5141)}),
    model(17, "ZEN5141", 0x5141, Page, {with_debug(0x5140)}),
    model(18, "ZEN5132", 0x5132, Page, {with_debug(0x5130)}),
    model(19, "ZEN5133", 0x5133, Page, {with_debug(0x5130)}),
    model(20, "ZEN5111", 0x5111, Page, {with_debug(0x5110)}),
    model(21, "ZEN5121", 0x5121, Page, {with_debug(0x5120)}),
    model(22, "ZEN5150", 0x5150, Page, {with_debug(0x5151)}),
    model(23, "ZEN5152", 0x5152, Page),
    model(24, "ZEN5151", 0x5151, Page),
    model(25, "ZEN5160", 0x5160, Sector, {always(0x5172)}, &kFlashUpdateFloor),
    model(26, "ZEN5161", 0x5161, Off),
    model(27, "ZEN5162", 0x5162, Off),
    model(28, "ZEN5123", 0x5123, Off),
    model(29, "ZEN5170", 0x5170, Sector, {with_debug(0x5171)}, &kFlashUpdateFloor, VariantRule::register0_low_byte),
    model(30, "ZEN5142", 0x5142, Sector),
    model(31, "ZEN5172", 0x5172, Off, {always(0x5160)}),
    model(32, "ZEN5180", 0x5180, Page, {with_debug(0x5181)}),
    model(33, "ZEN5171", 0x5171, Sector, {with_debug(0x5170)}),
    model(34, "ZEN5181", 0x5181, Page, {with_debug(0x5180)}),
    model(35, "ZEN5190", 0x5190, Off),
    model(36, "ZEN5191", 0x5191, Off),
    model(37, "ZEN5192", 0x5192, Off),
    model(38, "ZEN5193", 0x5193, Off),
    model(39, "ZEN5173", 0x5173, Off),
    model(40, "ZEN5174", 0x5174, Off),
    model(41, "ZEN5182", 0x5182, Off),
    model(42, "ZEN5183", 0x5183, Off),
    model(43, "ZEN5143", 0x5143, Off),
    model(44, "ZEN5144", 0x5144, Off),
    model(45, "ZEN5153", 0x5153, Off),
    model(46, "ZEN5154", 0x5154, Off),
    model(47, "ZEN5163", 0x5163, Off),
    model(48, "ZEN5164", 0x5164, Off),
    model(49, "ZEN5165", 0x5165, Off),
    model(50, "ZEN5175", 0x5175, Off),
    model(51, "ZEN5184", 0x5184, Off),
    model(52, "ZEN5185", 0x5185, Off),
    model(53, "ZEN5194", 0x5194, Off),
    model(54, "ZEN5195", 0x5195, Off),
    model(55, "ZEN5196", 0x5196, Off),
    model(56, "ZEN5197", 0x5197, Off),
    model(57, "ZEN5198", 0x5198, Off),
};

constexpr bool rows_follow_kind_numbers() {
    for (std::size_t i = 0; i < std::size(kModels); ++i)
        if (kModels[i].kind != kFirstBoardKind + i) return false;
    return true;
}
static_assert(std::size(kModels) == 57, "one row per board kind 1..57");
static_assert(rows_follow_kind_numbers(), "find_board_model indexes the table by kind number");

} // namespace

const BoardModel *BoardModels::begin() const noexcept { return std::begin(kModels); }
const BoardModel *BoardModels::end() const noexcept { return std::end(kModels); }
std::size_t BoardModels::size() const noexcept { return std::size(kModels); }

BoardModels board_models() noexcept { return {}; }

const BoardModel *find_board_model(uint32_t kind) noexcept {
    if (kind < kFirstBoardKind || kind - kFirstBoardKind >= std::size(kModels)) return nullptr;
    return &kModels[kind - kFirstBoardKind];
}

const BoardModel *find_board_model_by_id(uint16_t board_id) noexcept {
    const auto row = std::find_if(std::begin(kModels), std::end(kModels),
                                  [board_id](const BoardModel &model) { return model.board_id == board_id; });
    return row == std::end(kModels) ? nullptr : row;
}

uint32_t header_offset(const BoardModel &model) noexcept {
    return model.path == UpdatePath::sector_mode ? kSectorModeHeaderOffset : 0;
}

} // namespace romwright
