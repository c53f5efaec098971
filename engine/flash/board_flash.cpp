// BoardFlash and verify_firmware: whole sectors of a board's flash through
// the update's own read and write paths, chosen as the update entry chooses
// (the driver's flash-sector service where it is offered, else the engine's
// page-mode or sector-mode backend), with nothing of the update copied.
#include <romwright/board_flash.hpp>

#include <algorithm>
#include <cstring>
#include <optional>

#include <fmt/format.h>
#include <zlib.h>

#include <romwright/board_table.hpp>
#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"
#include "engine/flash/driver_paths.hpp"
#include "engine/flash/flash_backend.hpp"
#include "engine/image/firmware_file.hpp"
#include "engine/update/romwright_engine.hpp"

namespace romwright {
namespace {

constexpr uint64_t kLargestFlash = 0x10000000;  // 256 MiB
constexpr uint32_t kLargestServiceSector = 0x100000;
constexpr uint32_t kProtectedBytes = 0x20000;  // page mode: the first 128 KB

bool has(const std::vector<zen::driver_feature> &features, zen::driver_feature wanted) {
    return std::find(features.begin(), features.end(), wanted) != features.end();
}

std::vector<uint8_t> file_bytes(const std::string &path) {
    std::optional<FirmwareFile> file = FirmwareFile::open(path);
    if (!file) throw romwright::error(error_kind::file, fmt::format("Could not open firmware file {}", path));
    std::vector<uint8_t> bytes;
    append_from(*file, 0, file->size(), bytes);
    return bytes;
}

uint32_t first_difference(const uint8_t *a, const uint8_t *b, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i)
        if (a[i] != b[i]) return i;
    return length;
}

} // namespace

struct BoardFlash::State {
    void *board = nullptr;
    std::string path;
    uint32_t kind = 0;
    std::string model;
    uint32_t sector_size = 0;
    std::unique_ptr<CRomwright> engine;  // the register path
    bool service_open = false;
    std::vector<uint8_t> scratch;
};

BoardFlash::BoardFlash(void *board, ROMWRIGHT_LOG_CALLBACK log, void *user_data) : state_(std::make_unique<State>()) {
    if (!board) throw romwright::error(error_kind::usage, "Board is null");
    State &s = *state_;
    s.board = board;
    s.kind = KorvelGetBoardKind(board);
    const BoardModel *model = find_board_model(s.kind);
    s.model = model ? model->designation : fmt::format("kind {}", s.kind);
    const std::vector<zen::driver_feature> features = zen::get_supported_driver_features(board);
    if (has(features, zen::driver_feature::flash_sector_service)) {
        uint32_t status = 0;
        if (KorvelFlashOpen(board, 0, &s.sector_size, &status) != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Unable to open Flash, {}", FlashStatusName(status)));
        s.service_open = true;
        if (s.sector_size == 0 || s.sector_size > kLargestServiceSector)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Flash service reported a sector size of {} bytes", s.sector_size));
        s.path = "flash-sector service";
        s.scratch.resize(s.sector_size);
        return;
    }
    if (has(features, zen::driver_feature::firmware_upgrade_service))
        throw romwright::error(error_kind::board,
                               fmt::format("The {} is updated through the driver's firmware-upgrade service, which "
                                           "cannot read the flash",
                                           s.model));
    s.engine = std::make_unique<CRomwright>(log, user_data);
    s.engine->IdentifyBoard(board);
    s.path = s.engine->identity().sector_mode ? "sector mode" : "page mode";
    s.sector_size = s.engine->backend().sector_size();
    s.scratch.resize(s.sector_size);
}

BoardFlash::~BoardFlash() {
    if (state_ && state_->service_open) (void)KorvelFlashClose(state_->board);
}

const std::string &BoardFlash::path() const { return state_->path; }
uint32_t BoardFlash::kind() const { return state_->kind; }
const std::string &BoardFlash::model() const { return state_->model; }
uint32_t BoardFlash::sector_size() const { return state_->sector_size; }

bool BoardFlash::ReadSector(uint32_t sector, uint8_t *out) {
    State &s = *state_;
    if (s.engine) return s.engine->backend().ReadSectorQuickly(sector, out) == s.sector_size;
    uint32_t status = 0;
    return KorvelFlashSectorRead(s.board, sector, 1, out, &status) == ZENAPI_SUCCESS;
}

void BoardFlash::RewriteSector(uint32_t sector, const uint8_t *bytes) {
    State &s = *state_;
    const uint64_t base = uint64_t{sector} * s.sector_size;
    if (s.engine) {
        FlashBackend &flash = s.engine->backend();
        flash.EraseSector(sector);
        if (!flash.SectorReadsErased(sector))
            throw romwright::error(error_kind::verification,
                                   fmt::format("Sector {} at 0x{:08X} does not read erased after its erase", sector, base));
        flash.WriteSector(sector, bytes);
    } else {
        uint32_t status = 0;
        const uint32_t result = KorvelFlashSectorWrite(s.board, sector, 1, bytes, &status);
        if (result != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Writing sector {} at 0x{:08X} failed: {}, {}", sector, base,
                                               zen::error_text(result), FlashStatusName(status)));
    }
    if (!ReadSector(sector, s.scratch.data()))
        throw romwright::error(error_kind::verification,
                               fmt::format("Sector {} at 0x{:08X} could not be read back", sector, base));
    const uint32_t at = first_difference(s.scratch.data(), bytes, s.sector_size);
    if (at != s.sector_size)
        throw romwright::error(error_kind::verification,
                               fmt::format("Verify of sector {} failed at address 0x{:08X}", sector, base + at));
}

// A board answers reads up to the end of its flash and refuses them beyond
// (the simulated library does; a library that wrapped addresses around
// instead would make this find 256 MiB).
uint64_t BoardFlash::FindFlashSize(std::string &method) {
    State &s = *state_;
    const uint32_t most = static_cast<uint32_t>(kLargestFlash / s.sector_size);
    if (!ReadSector(0, s.scratch.data()))
        throw romwright::error(error_kind::device_call, "The board refuses to read its first sector");
    uint32_t readable = 1, refused = most + 1;  // sectors [0, readable) read; sector refused - 1 does not
    while (refused - readable > 1) {
        const uint32_t middle = readable + (refused - readable) / 2;
        if (ReadSector(middle - 1, s.scratch.data()))
            readable = middle;
        else
            refused = middle;
    }
    if (refused == most + 1 && ReadSector(most - 1, s.scratch.data())) readable = most;
    method = fmt::format("binary search over {} reads of 0x{:X}-byte sectors: the last readable sector is {}",
                         s.path, s.sector_size, readable - 1);
    return uint64_t{readable} * s.sector_size;
}

void BoardFlash::PlanUpdate(const std::string &firmware, std::vector<uint8_t> &image, std::vector<bool> &sectors) {
    State &s = *state_;
    if (!s.engine) {
        image = file_bytes(firmware);
        sectors.assign((image.size() + s.sector_size - 1) / s.sector_size, true);
        return;
    }
    s.engine->PlanUpdate(firmware, s.board);
    image = s.engine->images()[s.engine->image_index()].data;
    sectors = s.engine->plan().erase_map;
}

bool VerifyReport::matches() const {
    return std::all_of(ranges.begin(), ranges.end(), [](const VerifiedRange &r) { return r.matches; });
}

namespace {

// Compares sectors [first, first + count) with expected (from the start of
// sector first), into one range.
VerifiedRange compare_run(BoardFlash &flash, uint32_t first, uint32_t count, const std::vector<uint8_t> &image) {
    const uint32_t size = flash.sector_size();
    VerifiedRange range;
    range.begin = first * size;
    range.end = (first + count) * size;
    std::vector<uint8_t> read(size), expected(size);
    for (uint32_t sector = first; sector < first + count; ++sector) {
        const uint64_t base = uint64_t{sector} * size;
        std::fill(expected.begin(), expected.end(), 0xFF);
        if (base < image.size())
            std::copy(image.begin() + static_cast<std::ptrdiff_t>(base),
                      image.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(image.size(), base + size)),
                      expected.begin());
        if (!flash.ReadSector(sector, read.data())) {
            range.matches = false;
            range.first_difference = static_cast<uint32_t>(base);
            range.failure = fmt::format("the read of sector {} was refused", sector);
            return range;
        }
        const uint32_t at = first_difference(read.data(), expected.data(), size);
        if (at != size) {
            range.matches = false;
            range.first_difference = static_cast<uint32_t>(base + at);
            return range;
        }
    }
    return range;
}

} // namespace

VerifyReport verify_firmware(const std::string &firmware, void *board) {
    BoardFlash flash(board);
    VerifyReport report{flash.path(), flash.model(), {}};
    std::vector<uint8_t> image;
    std::vector<bool> selected;
    flash.PlanUpdate(firmware, image, selected);
    for (uint32_t sector = 0; sector < selected.size();) {
        if (!selected[sector]) {
            ++sector;
            continue;
        }
        uint32_t end = sector;
        while (end < selected.size() && selected[end]) ++end;
        report.ranges.push_back(compare_run(flash, sector, end - sector, image));
        sector = end;
    }
    return report;
}

RestoreReport restore_flash(void *board, const std::vector<uint8_t> &backup, const BackupOrigin &origin,
                            bool any_serial, const std::function<void(float)> &progress) {
    BoardFlash flash(board);
    if (flash.kind() != origin.kind)
        throw romwright::error(error_kind::board,
                               fmt::format("The backup is of a board of kind {}, this board is of kind {} ({}); nothing "
                                           "was erased",
                                           origin.kind, flash.kind(), flash.model()));
    uint32_t serial = 0;
    const bool serial_known = board_serial(board, serial);
    if (!any_serial && (!origin.serial_known || !serial_known || serial != origin.serial))
        throw romwright::error(
            error_kind::board,
            fmt::format("The backup is of the board with serial {}, this board's serial is {}; nothing was erased "
                        "(--any-serial accepts another board of the same kind)",
                        origin.serial_known ? std::to_string(origin.serial) : "unknown",
                        serial_known ? std::to_string(serial) : "unknown"));
    std::string method;
    const uint64_t size = flash.FindFlashSize(method);
    if (size != origin.flash_size || backup.size() != origin.flash_size)
        throw romwright::error(error_kind::board,
                               fmt::format("The backup holds 0x{:X} bytes of a 0x{:X}-byte flash, this board's flash "
                                           "has 0x{:X} bytes; nothing was erased",
                                           backup.size(), origin.flash_size, size));
    const uint32_t sector_size = flash.sector_size();
    RestoreReport report;
    report.sectors = static_cast<uint32_t>(size / sector_size);
    std::vector<uint8_t> read(sector_size);
    // What an update never touches, a restore leaves too.
    const uint32_t protected_sectors = flash.path() == "page mode" ? kProtectedBytes / sector_size : 0;
    for (uint32_t sector = 0; sector < report.sectors; ++sector) {
        if (progress) progress(fraction(sector, report.sectors));
        const uint8_t *wanted = backup.data() + uint64_t{sector} * sector_size;
        const bool same = flash.ReadSector(sector, read.data()) && std::memcmp(read.data(), wanted, sector_size) == 0;
        if (same) {
            ++report.matched;
        } else if (sector < protected_sectors) {
            report.protected_area_differs = true;
            report.protected_note = fmt::format(
                "sector {} (0x{:08X} to 0x{:08X}) differs from the backup; it lies in the first 128 KB, which an update "
                "never erases, and was left as it is",
                sector, sector * sector_size, (sector + 1) * sector_size - 1);
        } else {
            flash.RewriteSector(sector, wanted);
            ++report.rewritten;
        }
    }
    if (progress) progress(1.0f);
    return report;
}

uint32_t adler32_of(const std::vector<uint8_t> &bytes) {
    uLong adler = adler32(0L, Z_NULL, 0);
    constexpr std::size_t kChunk = 1u << 30;
    for (std::size_t done = 0; done < bytes.size(); done += kChunk)
        adler = adler32(adler, bytes.data() + done, static_cast<uInt>(std::min(kChunk, bytes.size() - done)));
    return static_cast<uint32_t>(adler);
}

bool board_serial(void *board, uint32_t &serial) {
    return KorvelQueryCapability(board, ZENAPI_CAP_SERIAL_NUMBER, 0, &serial) == ZENAPI_SUCCESS;
}

} // namespace romwright
