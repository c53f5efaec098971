// BoardFlash and verify_firmware: whole sectors of a board's flash through
// the backend of the path that reads it, and what an update would leave there
// as the backend of the path that writes it says, with nothing of the update
// copied. The register paths' backend belongs to an identified engine object;
// the services' backends stand alone.
#include <romwright/board_flash.hpp>

#include <algorithm>
#include <cstring>
#include <optional>

#include <fmt/format.h>
#include <zlib.h>

#include <romwright/board_table.hpp>
#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/flash/service_flash.hpp"
#include "engine/flash/upgrade_service.hpp"
#include "engine/image/firmware_file.hpp"
#include "engine/update/romwright_engine.hpp"

namespace romwright {
namespace {

constexpr uint64_t kLargestFlash = 0x10000000;  // 256 MiB
// A read that fails is tried this often in all before the failure stands.
constexpr int kReadAttempts = 3;
// The board must say twice that a sector is not in its flash.
constexpr int kBeyondAnswers = 2;

std::vector<uint8_t> file_bytes(const std::string &path) {
    std::optional<FirmwareFile> file = FirmwareFile::open(path);
    if (!file) throw romwright::error(error_kind::file, fmt::format("Could not open firmware file {}", path));
    std::vector<uint8_t> bytes;
    append_from(*file, 0, file->size(), bytes);
    return bytes;
}

std::string where(uint32_t sector, uint32_t size) {
    return fmt::format("sector {} at 0x{:08X}", sector, uint64_t{sector} * size);
}

} // namespace

struct BoardFlash::State {
    void *board = nullptr;
    uint32_t kind = 0;
    std::string model;
    ProgrammingPath writes = ProgrammingPath::none;
    std::unique_ptr<CRomwright> engine;     // the register paths: identification, plan and backend
    std::unique_ptr<ServiceFlash> service;  // the flash-sector service
    std::vector<uint8_t> scratch;

    // Whichever of the two reads (the engine's backend is chosen anew each
    // time the engine identifies the board).
    FlashBackend &reader() { return engine ? static_cast<FlashBackend &>(engine->backend()) : *service; }

    // What an update with a firmware file leaves, as the writing path says.
    struct Expectation {
        std::vector<uint8_t> file;  // the services' image: the file as it is
        const std::vector<uint8_t> *engine_image = nullptr;  // the register path's: the engine's slot
        UpdatePlan plan;             // in sectors of the reader's size
        std::unique_ptr<FlashBackend> upgrade;
        const FlashBackend *writer = nullptr;
        FlashWork work() const { return FlashWork{engine_image ? *engine_image : file, plan}; }
    };
    Expectation Expect(const std::string &firmware);

    // One read of a sector, retried: whole, beyond the flash (said twice), or
    // a romwright::error.
    SectorRead::Outcome Probe(uint32_t sector);
};

BoardFlash::BoardFlash(void *board, ROMWRIGHT_LOG_CALLBACK log, void *user_data) : state_(std::make_unique<State>()) {
    if (!board) throw romwright::error(error_kind::usage, "Board is null");
    State &s = *state_;
    s.board = board;
    s.kind = KorvelGetBoardKind(board);
    const BoardModel *model = find_board_model(s.kind);
    s.model = model ? model->designation : fmt::format("kind {}", s.kind);
    s.writes = choose_path(board);
    const ProgrammingPath reads = choose_read_path(board);
    if (reads == ProgrammingPath::firmware_upgrade_service)
        throw romwright::error(error_kind::board,
                               fmt::format("The {} is updated through the driver's firmware-upgrade service, which "
                                           "cannot read the flash",
                                           s.model));
    if (reads == ProgrammingPath::flash_sector_service) {
        s.service = std::make_unique<ServiceFlash>(board, LogSink(log, user_data), system_clock());
        s.service->CheckSectorSize();
    } else {
        s.engine = std::make_unique<CRomwright>(log, user_data);
        s.engine->IdentifyBoard(board);
    }
    s.scratch.resize(s.reader().sector_size());
}

BoardFlash::~BoardFlash() = default;

ProgrammingPath BoardFlash::path() const { return state_->reader().path(); }
uint32_t BoardFlash::kind() const { return state_->kind; }
const std::string &BoardFlash::model() const { return state_->model; }
uint32_t BoardFlash::sector_size() const { return state_->reader().sector_size(); }
uint32_t BoardFlash::protected_bytes() const { return state_->reader().protected_bytes(); }

// A failed read may leave the path mid-way (a read burst nobody drains): each
// new attempt starts from a known state.
SectorRead::Outcome BoardFlash::State::Probe(uint32_t sector) {
    int beyond = 0;
    std::string failure;
    for (int attempt = 0; attempt < kReadAttempts + kBeyondAnswers - 1; ++attempt) {
        const SectorRead read = reader().ReadSectorQuickly(sector, scratch.data());
        if (read.whole()) return read.outcome;
        failure = read.failure;
        if (read.outcome == SectorRead::Outcome::beyond_flash) {
            if (++beyond == kBeyondAnswers) return read.outcome;
        } else {
            reader().Recover();
        }
    }
    throw romwright::error(error_kind::device_call,
                           fmt::format("Reading {} failed: {}", where(sector, reader().sector_size()), failure));
}

void BoardFlash::ReadSector(uint32_t sector, uint8_t *out) {
    State &s = *state_;
    if (s.Probe(sector) == SectorRead::Outcome::beyond_flash)
        throw romwright::error(error_kind::device_call,
                               fmt::format("Reading {} failed: the board says it is not in its flash",
                                           where(sector, sector_size())));
    std::copy(s.scratch.begin(), s.scratch.end(), out);
}

void BoardFlash::RewriteSector(uint32_t sector, const uint8_t *bytes) {
    state_->reader().RewriteSector(sector, bytes, state_->scratch.data());
}

uint64_t BoardFlash::FindFlashSize(std::string &method) {
    State &s = *state_;
    const uint32_t size = sector_size();
    const uint32_t most = static_cast<uint32_t>(kLargestFlash / size);
    const auto readable_sector = [&s](uint32_t sector) { return s.Probe(sector) == SectorRead::Outcome::whole; };
    if (!readable_sector(0))
        throw romwright::error(error_kind::device_call, "The board says its flash has no first sector");
    uint32_t readable = 1, refused = most + 1;  // sectors [0, readable) read; sector refused - 1 does not
    while (refused - readable > 1) {
        const uint32_t middle = readable + (refused - readable) / 2;
        if (readable_sector(middle - 1))
            readable = middle;
        else
            refused = middle;
    }
    if (refused == most + 1 && readable_sector(most - 1)) readable = most;
    method = fmt::format("binary search over {} reads of 0x{:X}-byte sectors: the last readable sector is {}",
                         path_name(path()), size, readable - 1);
    return uint64_t{readable} * size;
}

BoardFlash::State::Expectation BoardFlash::State::Expect(const std::string &firmware) {
    Expectation expected;
    if (engine) {
        engine->PlanUpdate(firmware, board);
        expected.plan = engine->plan();
        expected.engine_image = &engine->images()[engine->image_index()].data;
        expected.writer = &engine->backend();
        return expected;
    }
    expected.file = file_bytes(firmware);
    expected.plan = whole_file_plan(expected.file.size(), reader().sector_size());
    if (writes == ProgrammingPath::firmware_upgrade_service) {
        expected.upgrade = std::make_unique<UpgradeService>(board, LogSink(), system_clock());
        expected.writer = expected.upgrade.get();
    } else {
        expected.writer = &reader();
    }
    return expected;
}

bool VerifyReport::matches() const {
    return std::all_of(ranges.begin(), ranges.end(), [](const VerifiedRange &r) { return r.matches; });
}

// verify_firmware's view of a BoardFlash: its reader and the writer's expectation.
struct VerifyAccess {
    static BoardFlash::State &state(BoardFlash &flash) { return *flash.state_; }
};

namespace {

// Compares sectors [first, first + count) with what the update leaves there,
// into one range: the bytes the writing path decides, read through the
// reading path.
VerifiedRange compare_run(BoardFlash &flash, const BoardFlash::State::Expectation &expected, uint32_t first,
                          uint32_t count) {
    const uint32_t size = flash.sector_size();
    VerifiedRange range;
    range.begin = first * size;
    range.end = (first + count) * size;
    std::vector<uint8_t> read(size), wanted(size);
    const FlashWork work = expected.work();
    for (uint32_t sector = first; sector < first + count; ++sector) {
        const uint64_t base = uint64_t{sector} * size;
        const uint32_t decided = expected.writer->ExpectedBytes(work, base, size, wanted.data());
        try {
            flash.ReadSector(sector, read.data());
        } catch (const romwright::error &failure) {
            range.matches = false;
            range.first_difference = static_cast<uint32_t>(base);
            range.failure = failure.what();
            return range;
        }
        const auto differs = std::mismatch(read.begin(), read.begin() + decided, wanted.begin());
        if (differs.first != read.begin() + decided) {
            range.matches = false;
            range.first_difference = static_cast<uint32_t>(base + static_cast<uint64_t>(differs.first - read.begin()));
            return range;
        }
    }
    return range;
}

} // namespace

VerifyReport verify_firmware(const std::string &firmware, void *board) {
    BoardFlash flash(board);
    VerifyReport report{flash.path(), flash.model(), {}};
    const BoardFlash::State::Expectation expected = VerifyAccess::state(flash).Expect(firmware);
    const std::vector<bool> &selected = expected.plan.erase_map;
    for (uint32_t sector = 0; sector < selected.size();) {
        if (!selected[sector]) {
            ++sector;
            continue;
        }
        uint32_t end = sector;
        while (end < selected.size() && selected[end]) ++end;
        report.ranges.push_back(compare_run(flash, expected, sector, end - sector));
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
    report.path = flash.path();
    report.sectors = static_cast<uint32_t>(size / sector_size);
    std::vector<uint8_t> read(sector_size);
    // What an update never touches, a restore leaves too.
    const uint32_t protected_sectors = flash.protected_bytes() / sector_size;
    for (uint32_t sector = 0; sector < report.sectors; ++sector) {
        if (progress) progress(fraction(sector, report.sectors));
        const uint8_t *wanted = backup.data() + uint64_t{sector} * sector_size;
        bool same = false;
        try {
            flash.ReadSector(sector, read.data());
            same = std::memcmp(read.data(), wanted, sector_size) == 0;
        } catch (const romwright::error &) {
            // A sector that cannot be read is written anew and read back.
        }
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
