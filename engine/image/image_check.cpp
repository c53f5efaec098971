// Whether the loaded image may go into the identified board, and which of the
// file's two images to use.
#include "engine/image/image_check.hpp"

#include <cstddef>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include <romwright/board_table.hpp>
#include <romwright/error.hpp>

#include "engine/update/romwright_engine.hpp"

namespace romwright {
namespace {

constexpr uint16_t kSignature = 0x5731;
constexpr uint16_t kAlternateSignature = 0x1C0B;
constexpr std::size_t kHeaderSize = 6;
constexpr uint16_t kNewRevisionMark = 0x90;

uint16_t word_at(const std::vector<uint8_t> &data, std::size_t offset) {
    return static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
}

// The header is read only where the image holds all six bytes of it.
ImageHeader header_at(const std::vector<uint8_t> &data, std::size_t offset, const char *which) {
    if (data.size() < offset + kHeaderSize)
        throw romwright::error(
            error_kind::image,
            fmt::format("Error: {} FPGA image of {} bytes is too short for its header at 0x{:08X} ({} bytes needed)",
                        which, data.size(), offset, offset + kHeaderSize));
    return ImageHeader{word_at(data, offset), word_at(data, offset + 2), word_at(data, offset + 4)};
}

bool accepted_on(uint16_t image_id, uint16_t board_id, bool debug) {
    if (image_id == 0 || image_id == board_id) return true;
    switch (compatibility(image_id, board_id)) {
    case Compatibility::always:
        return true;
    case Compatibility::debug_only:
        return debug;
    case Compatibility::refused:
        break;
    }
    return false;
}

void check_primary(const ImageHeader &header, const BoardIdentity &board, bool debug) {
    if (!debug && header.signature != kSignature && header.signature != kAlternateSignature)
        throw romwright::error(error_kind::image,
                               fmt::format("Error: Invalid FPGA image signature. {:04X} instead of {:04X} or {:04X}\n",
                                           header.signature, kSignature, kAlternateSignature));
    if (!accepted_on(header.board_id, board.id, debug))
        throw romwright::error(error_kind::image,
                               fmt::format("Error: FPGA image is made for board {:04X}, not for this board {:04X} \n",
                                           header.board_id, board.id));
}

// The variant rule: the image's variant is the low byte of word 2.
void check_variant(const ImageHeader &header, const BoardIdentity &board) {
    const uint32_t image_variant = header.word2 & 0xFFu;
    if (image_variant != board.variant)
        throw romwright::error(
            error_kind::image,
            fmt::format("Error: FPGA image is made for board 5170-{:02X}, not for this board 5170-{:02X} \n",
                        image_variant, board.variant));
}

struct RevisionTexts {
    const char *primary;
    const char *secondary;
};

constexpr RevisionTexts kOldBoardTexts{
    "Primary FPGA image requires an ZEN5120 v1.3 or later, but the board is version 1.2 or earlier\n",
    "Secondary FPGA image requires an ZEN5120 v1.3 or later, but the board is version 1.2 or earlier\n"};
constexpr RevisionTexts kNewBoardTexts{
    "Primary FPGA image requires an ZEN5120 v1.2 or earlier, but the board is version 1.3 or later\n",
    "Secondary FPGA image requires an ZEN5120 v1.2 or earlier, but the board is version 1.3 or later\n"};

// The revision rule: a board of revision 1.3 or later needs an image marked
// 0x90 in word 2, an older board one that is not; the secondary image is
// tried when the primary does not fit.
int32_t choose_image_by_revision(const ImageHeader &primary, const std::vector<uint8_t> &secondary_data,
                                 const BoardIdentity &board, const RevisionReader &read_revision, const LogSink &log) {
    const auto revision = read_revision();
    const bool new_board = revision.first > 1 || (revision.first == 1 && revision.second >= 3);
    const auto fits = [new_board](const ImageHeader &header) {
        return (header.word2 == kNewRevisionMark) == new_board;
    };
    if (fits(primary)) return 0;

    const RevisionTexts &texts = new_board ? kNewBoardTexts : kOldBoardTexts;
    std::string diagnostic = texts.primary;
    if (secondary_data.empty()) {
        log.error("{}", diagnostic);
        throw romwright::error(error_kind::image, "Error: Incorrect FPGA image for this ZEN5120 version.");
    }
    const ImageHeader secondary = header_at(secondary_data, 0, "Secondary");
    if (secondary.signature != kSignature)
        throw romwright::error(error_kind::image, "Error: Invalid secondary FPGA image signature");
    if (secondary.board_id != 0 && secondary.board_id != board.id)
        throw romwright::error(error_kind::image, "Error: Secondary FPGA image not this board");
    if (fits(secondary)) {
        log.info("Using secondary FPGA image from POF file.\n");
        return 1;
    }
    diagnostic += texts.secondary;
    log.error("{}", diagnostic);
    throw romwright::error(error_kind::image, "Error: Incorrect FPGA image for this ZEN5120 version.");
}

} // namespace

// The board table lists, for each board, the images made for other boards
// that it accepts; any other pair is refused.
Compatibility compatibility(uint16_t image_id, uint16_t board_id) {
    if (image_id == board_id) return Compatibility::always;
    const BoardModel *board = find_board_model_by_id(board_id);
    if (!board) return Compatibility::refused;
    for (std::size_t i = 0; i < board->accepted_count; ++i) {
        const AcceptedImage &accepted = board->accepted[i];
        if (accepted.image_id != image_id) continue;
        return accepted.when == Acceptance::always ? Compatibility::always : Compatibility::debug_only;
    }
    return Compatibility::refused;
}

int32_t check_image(const ImageSlot (&images)[2], const BoardIdentity &board, bool debug,
                    const RevisionReader &read_revision, const LogSink &log) {
    const ImageHeader primary = header_at(images[0].data, board.sector_mode ? kSectorModeHeaderOffset : 0, "Primary");
    check_primary(primary, board, debug);
    // A kind the table does not know has no rules of its own.
    const BoardModel *model = find_board_model(board.kind);
    if (model && model->variant == VariantRule::register0_low_byte) check_variant(primary, board);
    if (model && model->revision == RevisionRule::zen5120_marks)
        return choose_image_by_revision(primary, images[1].data, board, read_revision, log);
    return 0;
}

} // namespace romwright

// The primary image stays current while the check runs, and after a refusal.
void CRomwright::CheckImage() {
    image_index_ = 0;
    image_index_ = romwright::check_image(
        images_, identity_, options_.debug, [this] { return ReadBoardRevision(); }, log());
}
