// CRomwright: construction, options, and opening and identifying the board.
// Identification fixes the programming mode from the board kind alone.
#include "engine/update/romwright_engine.hpp"

#include <exception>
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/board_table.hpp>
#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"
#include "engine/flash/page_flash.hpp"
#include "engine/flash/sector_flash.hpp"

namespace {

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

// Until SetOptions runs, the engine writes page 0 (the options record's
// default leaves it to the automatic selection).
CRomwright::CRomwright(ROMWRIGHT_LOG_CALLBACK log_callback, void *user_data, romwright::Clock &clock)
    : user_data_(user_data), log_callback_(log_callback), flash_(log_callback, user_data, clock), clock_(clock) {
    options_.write_page0 = true;
}

CRomwright::~CRomwright() {
    backend_.reset();
    sector_buffer_.reset();
    if (controller_attached_) {
        try {
            flash_.Detach();
        } catch (const std::exception &error) {
            // The update's outcome is already decided; say why the board may
            // keep its flash output enabled and carry on.
            WarnDetachFailed(error.what());
        } catch (...) {
            WarnDetachFailed(nullptr);
        }
    }
    controller_attached_ = false;
    board_ = nullptr;
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

void CRomwright::SetOptions(bool auto_select_pages, bool write_page0, bool write_page1, bool write_option_bits,
                            bool verify_pages, int32_t max_retries, bool debug) {
    options_.auto_select_pages = auto_select_pages;
    options_.write_page0 = write_page0;
    options_.write_page1 = write_page1;
    options_.write_option_bits = write_option_bits;
    options_.verify_pages = verify_pages;
    options_.max_retries = max_retries;
    options_.debug = debug;
}

void CRomwright::OpenBoard(void *handle) {
    board_ = handle;
    if (!board_) throw romwright::error(romwright::error_kind::usage, "Error: Null board");
    const uint32_t kind = KorvelGetBoardKind(board_);
    opened_kind_ = kind;
    if (const romwright::BoardModel *model = sector_mode_model(kind)) {
        if (const romwright::FirmwareFloor *floor = model->floor) {
            const uint32_t signature = GetKsopcSignature();
            if (older_than(fpga_major(signature), fpga_minor(signature), floor->fpga_major, floor->fpga_minor))
                throw romwright::error(romwright::error_kind::board,
                                       fmt::format("Error: ZEN51x0 FPGA version {}.{} does not support flash updates.",
                                                   fpga_major(signature), fpga_minor(signature)));
            uint8_t major = 0, minor = 0;
            zen::check_call(KorvelGetCPLDVersion(board_, &major, &minor), "CRomwright::OpenBoard");
            if (older_than(major, minor, floor->cpld_major, floor->cpld_minor))
                throw romwright::error(
                    romwright::error_kind::board,
                    fmt::format("Error: ZEN51x0 CPLD version {}.{} does not support flash updates.", major, minor));
        }
        flash_.Attach(board_, options_.debug);
        controller_attached_ = true;
        return;
    }
    controller_attached_ = false;
    uint16_t scratch[8] = {};
    // What this read prepares is the library's business; its outcome is not ours.
    (void)ZEN5110FlashSectorPageRead(board_, kScratchReadWordAddress, scratch);
}

uint32_t CRomwright::GetKsopcSignature() {
    uint32_t value = 0;
    zen::check_call(KorvelQueryCapability(board_, ZENAPI_CAP_KSOPC_SIGNATURE, 0, &value),
                    "CRomwright::GetKsopcSignature");
    return value;
}

std::pair<int32_t, int32_t> CRomwright::ReadBoardRevision() {
    uint8_t major = 0, minor = 0;
    if (KorvelGetBoardRevision(board_, &major, &minor) != ZENAPI_SUCCESS)
        throw romwright::error(romwright::error_kind::device_call, "Error: reading board revision failed");
    const int32_t shown_minor = minor == kRevisionMinorUnset ? 0 : minor;
    return {major, shown_minor};
}

CRomwright::FpgaType CRomwright::GetFPGAType() {
    const uint32_t kind = KorvelGetBoardKind(board_);
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
        zen::check_call(KorvelReadRegister(board_, kBoardRegister0, &value, ZENAPI_REGISTER_ACCESS_CODE),
                        "CRomwright::GetFPGAType");
        type.variant = value & 0xFFu;
    }
    return type;
}

void CRomwright::GetSerialNumber() {
    uint32_t serial = 0;
    if (KorvelQueryCapability(board_, ZENAPI_CAP_SERIAL_NUMBER, 0, &serial) == ZENAPI_SUCCESS) {
        report_.serial = serial;
        log().info("Serial number = {} \n", serial);
    } else {
        log().error("Serial number unavailable\n");
    }
}

void CRomwright::IdentifyBoard(void *handle) {
    OpenBoard(handle);
    const FpgaType type = GetFPGAType();
    const uint32_t signature = GetKsopcSignature();
    const auto revision = ReadBoardRevision();
    // Nothing is stored until every query has answered: a board that fails
    // one of them leaves the members as they were.
    identity_.kind = type.kind;
    identity_.variant = type.variant;
    identity_.model = type.model;
    identity_.ksopc_signature = signature;
    identity_.id = type.board_id;
    identity_.sector_mode = type.sector_mode;
    SelectBackend();
    report_.path = backend_->path();
    report_.firmware_before = std::make_pair(fpga_major(signature), fpga_minor(signature));
    report_.model = identity_.model;
    log().info("Board type = {} {{{}, {}}}\n", identity_.model, revision.first, revision.second);
    GetSerialNumber();
    log().info("KSoPC signature = 0x{:08X}\n", identity_.ksopc_signature);
    log().info("Current firmware version = {}.{}\n", fpga_major(identity_.ksopc_signature),
               fpga_minor(identity_.ksopc_signature));
}

// The mode is chosen here, once: every flash step after this runs on the
// backend of the identified mode. A sector-mode board reads through one
// aligned sector of scratch, allocated once.
void CRomwright::SelectBackend() {
    if (!identity_.sector_mode) {
        backend_ = std::make_unique<romwright::PageFlash>(board_, flash_, log(), clock_);
        return;
    }
    if (!sector_buffer_) {
        sector_buffer_ = romwright::platform::allocate_aligned(romwright::kSectorModeSectorSize);
        if (!sector_buffer_) throw romwright::error(romwright::error_kind::internal, "Allocate memory failed");
    }
    backend_ = std::make_unique<romwright::SectorFlash>(board_, flash_, sector_buffer_.get(), log(), clock_);
}

romwright::RegisterFlash &CRomwright::backend() {
    if (!backend_) throw romwright::error(romwright::error_kind::internal, "Error: The board has not been identified");
    return *backend_;
}

void CRomwright::EnableFlash(bool enable) { romwright::enable_flash(board_, enable); }
