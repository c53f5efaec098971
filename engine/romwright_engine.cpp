// CRomwright: construction, options, and opening and identifying the board.
// Identification fixes the programming mode from the board kind alone.
#include "engine/romwright_engine.hpp"

#include <exception>
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/board_table.hpp>
#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"

namespace {

constexpr uint32_t kSectorBufferSize = 0x40000;
// OpenBoard's scratch read on page-mode boards: 8 words at byte address 0x20000.
constexpr uint32_t kScratchReadWordAddress = 0x10000;
constexpr uint32_t kBoardRegister0 = 0;
constexpr int32_t kRevisionMinorUnset = 15;

// The table's row of a kind the engine programs in sector mode, else null.
const romwright::BoardModel *sector_mode_model(uint32_t kind) {
    const romwright::BoardModel *model = romwright::find_board_model(kind);
    return model && model->path == romwright::UpdatePath::sector_mode ? model : nullptr;
}

bool older_than(uint32_t major, uint32_t minor, uint32_t want_major, uint32_t want_minor) {
    return major < want_major || (major == want_major && minor < want_minor);
}

uint32_t fpga_major(uint32_t signature) { return (signature >> 16) & 0xFFu; }
uint32_t fpga_minor(uint32_t signature) { return (signature >> 24) & 0x0Fu; }

} // namespace

CRomwright::CRomwright(ROMWRIGHT_LOG_CALLBACK log_callback_, void *user_data_, romwright::Clock &clock)
    : user_data(user_data_), log_callback(log_callback_), flash(log_callback_, user_data_, clock), clock_(clock) {}

CRomwright::~CRomwright() {
    sector_buffer.reset();
    if (controller_attached) {
        try {
            flash.Detach();
        } catch (const std::exception &error) {
            // The update's outcome is already decided; say why the board may
            // keep its flash output enabled and carry on.
            WarnDetachFailed(error.what());
        } catch (...) {
            WarnDetachFailed(nullptr);
        }
    }
    controller_attached = false;
    board = nullptr;
}

// The destructor may run while a failure unwinds, and the log callback may
// throw as well (the failure may have come from it): nothing leaves here.
void CRomwright::WarnDetachFailed(const char *reason) const noexcept {
    try {
        if (reason)
            log().warning("Detaching the flash driver failed: {}\n", reason);
        else
            log().warning("Detaching the flash driver failed.\n");
    } catch (...) {
    }
}

void CRomwright::SetOptions(bool auto_select_pages_, bool write_page0_, bool write_page1_, bool write_option_bits_,
                            bool verify_pages_, int32_t max_retries_, bool debug_) {
    auto_select_pages = auto_select_pages_;
    write_page0 = write_page0_;
    write_page1 = write_page1_;
    write_option_bits = write_option_bits_;
    verify_pages = verify_pages_;
    max_retries = max_retries_;
    debug = debug_;
}

void CRomwright::OpenBoard(void *handle) {
    board = handle;
    if (!board) throw romwright::error(romwright::error_kind::usage, "Error: Null board");
    const uint32_t kind = KorvelGetBoardKind(board);
    opened_kind_ = kind;
    if (const romwright::BoardModel *model = sector_mode_model(kind)) {
        if (const romwright::FirmwareFloor *floor = model->floor) {
            const uint32_t signature = GetKsopcSignature();
            if (older_than(fpga_major(signature), fpga_minor(signature), floor->fpga_major, floor->fpga_minor))
                throw romwright::error(romwright::error_kind::board,
                                       fmt::format("Error: ZEN51x0 FPGA version {}.{} does not support flash updates.",
                                                   fpga_major(signature), fpga_minor(signature)));
            uint8_t major = 0, minor = 0;
            zen::check_call(KorvelGetCPLDVersion(board, &major, &minor), "CRomwright::OpenBoard");
            if (older_than(major, minor, floor->cpld_major, floor->cpld_minor))
                throw romwright::error(
                    romwright::error_kind::board,
                    fmt::format("Error: ZEN51x0 CPLD version {}.{} does not support flash updates.", major, minor));
        }
        flash.Attach(board, debug);
        controller_attached = true;
        return;
    }
    controller_attached = false;
    uint16_t scratch[8] = {};
    // What this read prepares is the library's business; its outcome is not ours.
    (void)ZEN5110FlashSectorPageRead(board, kScratchReadWordAddress, scratch);
}

uint32_t CRomwright::GetKsopcSignature() {
    uint32_t value = 0;
    zen::check_call(KorvelQueryCapability(board, ZENAPI_CAP_KSOPC_SIGNATURE, 0, &value),
                    "CRomwright::GetKsopcSignature");
    return value;
}

std::pair<int32_t, int32_t> CRomwright::ReadBoardRevision() {
    uint8_t major = 0, minor = 0;
    if (KorvelGetBoardRevision(board, &major, &minor) != ZENAPI_SUCCESS)
        throw romwright::error(romwright::error_kind::device_call, "Error: reading board revision failed");
    const int32_t shown_minor = minor == kRevisionMinorUnset ? 0 : minor;
    return {major, shown_minor};
}

CRomwright::FpgaType CRomwright::GetFPGAType() {
    const uint32_t kind = KorvelGetBoardKind(board);
    // OpenBoard chose how to open the board by its own answer; a board that
    // now says something else was opened the wrong way, or is not to be
    // trusted about its kind at all.
    if (kind != opened_kind_)
        throw romwright::error(romwright::error_kind::device_call,
                               fmt::format("Error: The board's kind changed between two queries: KorvelGetBoardKind "
                                           "answered {} in CRomwright::OpenBoard, then {} in CRomwright::GetFPGAType",
                                           opened_kind_, kind));
    const romwright::BoardModel *model = romwright::find_board_model(kind);
    // Numbers below the first kind are refused as the oldest models are.
    if (kind < romwright::kFirstBoardKind || (model && model->path == romwright::UpdatePath::unsupported))
        throw romwright::error(romwright::error_kind::board, "Error: Unsupported board type");
    if (!model || model->path == romwright::UpdatePath::not_programmed)
        throw romwright::error(romwright::error_kind::board, "Unknown board type");
    FpgaType type{kind, 0, model->designation, model->board_id, model->path == romwright::UpdatePath::sector_mode};
    if (model->variant == romwright::VariantRule::register0_low_byte) {
        uint32_t value = 0;
        zen::check_call(KorvelReadRegister(board, kBoardRegister0, &value, ZENAPI_REGISTER_ACCESS_CODE),
                        "CRomwright::GetFPGAType");
        type.variant = value & 0xFFu;
    }
    return type;
}

void CRomwright::GetSerialNumber() {
    uint32_t serial = 0;
    if (KorvelQueryCapability(board, ZENAPI_CAP_SERIAL_NUMBER, 0, &serial) == ZENAPI_SUCCESS)
        log().info("Serial number = {} \n", serial);
    else
        log().error("Serial number unavailable\n");
}

void CRomwright::IdentifyBoard(void *handle) {
    OpenBoard(handle);
    const FpgaType type = GetFPGAType();
    const uint32_t signature = GetKsopcSignature();
    const auto revision = ReadBoardRevision();
    // Nothing is stored until every query has answered: a board that fails
    // one of them leaves the members as they were.
    board_kind = type.kind;
    board_variant = type.variant;
    board_model = type.model;
    ksopc_signature = signature;
    board_id = type.board_id;
    sector_mode = type.sector_mode;
    if (sector_mode && !sector_buffer) {
        sector_buffer = romwright::platform::allocate_aligned(kSectorBufferSize);
        if (!sector_buffer) throw romwright::error(romwright::error_kind::internal, "Allocate memory failed");
    }
    log().info("Board type = {} {{{}, {}}}\n", board_model, revision.first, revision.second);
    GetSerialNumber();
    log().info("KSoPC signature = 0x{:08X}\n", ksopc_signature);
    log().info("Current firmware version = {}.{}\n", fpga_major(ksopc_signature), fpga_minor(ksopc_signature));
}

void CRomwright::EnableFlash(bool enable) {
    uint32_t value = 0;
    zen::check_call(KorvelReadRegister(board, flash_reg::kFlashEnable, &value, ZENAPI_REGISTER_ACCESS_CODE),
                    "CRomwright::EnableFlash");
    value = enable ? (value | flash_reg::kFlashEnableBit) : (value & ~flash_reg::kFlashEnableBit);
    zen::check_call(KorvelWriteRegister(board, flash_reg::kFlashEnable, value, ZENAPI_REGISTER_ACCESS_CODE),
                    "CRomwright::EnableFlash");
}
