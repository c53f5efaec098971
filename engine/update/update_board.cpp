// CRomwright::UpdateBoard: load the file, identify the board, check the
// image, plan, then erase, write and verify on the flash backend of the
// board's mode, retrying the three steps as a whole with the same plan.
// An image that ends inside a sector is written to that sector too, padded
// with erased bytes, once a read of the board has shown that nothing past the
// image's end would be lost.
#include "engine/update/romwright_engine.hpp"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <optional>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/image/firmware_file.hpp"
#include "engine/image/pof_reader.hpp"
#include "engine/image/raw_image.hpp"

namespace {

constexpr std::size_t kMagicProbeBytes = 12;

} // namespace

// Tells a POF file from a raw one by its magic and loads it into the slots,
// from the one handle that was checked to be a regular, non-empty file.
void CRomwright::LoadFirmwareFile(const std::string &path) {
    std::optional<romwright::FirmwareFile> file = romwright::FirmwareFile::open(path);
    if (!file)
        throw romwright::error(romwright::error_kind::file,
                               fmt::format("Error: Could not open firmware file {}", path));
    uint8_t first_bytes[kMagicProbeBytes] = {};
    const std::size_t probed = static_cast<std::size_t>(std::min<uint64_t>(file->size(), sizeof first_bytes));
    file->read(0, first_bytes, probed);
    if (romwright::has_pof_magic(first_bytes, probed))
        romwright::load_pof(*file, images_, options_.debug, log());
    else
        romwright::load_binary(*file, images_[0], log());
}

void CRomwright::UpdateBoard(const std::string &path, void *handle, ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                             ROMWRIGHT_PROGRESS_CALLBACK progress_callback) {
    LoadFirmwareFile(path);
    firmware_path_ = path;
    const int64_t start = clock_.wall_seconds();

    // Nothing here is retried: a refusal comes before any erase.
    IdentifyCheckAndPlan(handle);
    CheckTrailingSector();

    EraseWriteVerifyWithRetries(operation_callback, progress_callback);

    if (controller_attached_) flash_.Detach();
    controller_attached_ = false;
    board_ = nullptr;
    log().info("Board update time = {}s\n", clock_.wall_seconds() - start);
}

void CRomwright::PlanUpdate(const std::string &path, void *handle) {
    LoadFirmwareFile(path);
    firmware_path_ = path;
    IdentifyCheckAndPlan(handle);
}

void CRomwright::IdentifyCheckAndPlan(void *handle) {
    IdentifyBoard(handle);
    CheckImage();
    Plan();
}

romwright::FlashWork CRomwright::Work() const {
    return romwright::FlashWork{CurrentImage().data, planned_.plan, options_.debug, options_.max_retries};
}

// One attempt: erase, write and (if asked) verify.
void CRomwright::EraseWriteVerify(ROMWRIGHT_OPERATION_CALLBACK operation, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const auto report = [&](ROMWRIGHT_OPERATION value) {
        if (operation) operation(value, user_data_);
    };
    if (skip_matching_ && EveryWrittenPageInAnErasedSector()) {
        report(ROMWRIGHT_OPERATION_VERIFYING);
        UpdateDifferingSectors(progress);
        return;
    }
    romwright::RegisterFlash &flash = backend();
    const romwright::FlashWork work = Work();
    report(ROMWRIGHT_OPERATION_ERASING);
    flash.EraseSectors(work, progress);
    report(ROMWRIGHT_OPERATION_WRITING);
    flash.Write(work, progress);
    const auto planned = static_cast<uint32_t>(std::max(planned_.plan.erase_count, 0));
    report_.sectors_erased = report_.sectors_written = planned;
    report_.sectors_skipped = 0u;
    if (!options_.verify_pages) return;
    report(ROMWRIGHT_OPERATION_VERIFYING);
    flash.Verify(work, progress);
}

// Skipping works on whole planned sectors; a plan that writes pages into a
// sector it does not erase is carried out as planned instead.
bool CRomwright::EveryWrittenPageInAnErasedSector() const {
    const romwright::UpdatePlan &plan = planned_.plan;
    const uint64_t pages_per_sector = romwright::kPageModeSectorSize / romwright::kPageSize;
    for (uint64_t page = 0; page < plan.write_map.size(); ++page) {
        const uint64_t sector = page / pages_per_sector;
        if (plan.write_map[page] && (sector >= plan.erase_map.size() || !plan.erase_map[sector])) return false;
    }
    return true;
}

// Sector by sector, each finished before the next, so that an update cut
// short leaves every sector before the cut holding the image: the sector is
// read and compared; one that matches is left alone (the comparison is its
// verification); any other is erased and checked as the erase step does (a
// sector that reads erased too: the erase also unlocks it), written and read
// back.
void CRomwright::UpdateDifferingSectors(ROMWRIGHT_PROGRESS_CALLBACK progress) {
    romwright::RegisterFlash &flash = backend();
    const romwright::UpdatePlan &plan = planned_.plan;
    const romwright::FlashWork work = Work();
    const uint32_t size = flash.sector_size();
    std::vector<uint8_t> expected(size), read(size);
    log().info("Comparing {} of {} sectors.\n", plan.erase_count, plan.erase_map.size());
    int32_t compared = 0, skipped = 0, erased = 0;
    for (uint32_t sector = 0; sector < plan.erase_map.size(); ++sector) {
        if (!plan.erase_map[sector]) continue;
        if (progress) progress(romwright::fraction(compared++, plan.erase_count), user_data_);
        flash.ExpectedBytes(work, uint64_t{sector} * size, size, expected.data());
        if (flash.ReadSectorQuickly(sector, read.data()).whole() && read == expected) {
            ++skipped;
            continue;
        }
        for (int32_t retry = 0;; ++retry) {
            flash.EraseSector(sector);
            if (flash.SectorReadsErased(sector)) break;
            if (retry >= options_.max_retries)
                throw romwright::error(romwright::error_kind::verification, "Error: erase retries depleted.");
        }
        ++erased;
        flash.WriteSector(sector, expected.data());
        if (!options_.verify_pages) continue;
        if (!flash.ReadSectorQuickly(sector, read.data()).whole() || read != expected) {
            const auto differs = std::mismatch(read.begin(), read.end(), expected.begin());
            log().error("Error: Verify sector {} byte address 0x{:08X} failed.\n", sector,
                        uint64_t{sector} * size + static_cast<uint64_t>(differs.first - read.begin()));
            throw romwright::error(romwright::error_kind::verification, "Verify sector failed.");
        }
    }
    if (progress) progress(1.0f, user_data_);
    log().info("Skipped {} of {} sectors that already hold the image; erased {}, wrote and verified {}.\n", skipped,
               plan.erase_count, erased, plan.erase_count - skipped);
    report_.sectors_erased = static_cast<uint32_t>(erased);
    report_.sectors_written = static_cast<uint32_t>(plan.erase_count - skipped);
    report_.sectors_skipped = static_cast<uint32_t>(skipped);
}

// The same plan for every attempt; each starts again from the first erase.
void CRomwright::EraseWriteVerifyWithRetries(ROMWRIGHT_OPERATION_CALLBACK operation,
                                             ROMWRIGHT_PROGRESS_CALLBACK progress) {
    for (int32_t attempt = 0;; ++attempt) {
        if (attempt > 0) backend().ResetForRetry(attempt, options_.max_retries);
        // The last attempt's failure tells what kind of failure ends the update.
        romwright::error_kind last_failure = romwright::error_kind::internal;
        try {
            EraseWriteVerify(operation, progress);
            return;
        } catch (const romwright::error &failure) {
            log().error("{}\n", failure.what());
            last_failure = failure.kind();
        } catch (const std::exception &failure) {
            log().error("{}\n", failure.what());
        } catch (...) {
            log().error("Unknown error.");
        }
        if (attempt >= options_.max_retries) throw romwright::error(last_failure, "Max retries reached.");
    }
}

// Erasing the sector in which the image ends also erases what the board holds
// past that end, which nothing writes back. That is sound only where it reads
// erased already; a board that cannot even be read there is refused too.
void CRomwright::CheckTrailingSector() {
    romwright::RegisterFlash &flash = backend();
    const std::size_t size = CurrentImage().data.size();
    if (const std::optional<uint32_t> sector = romwright::trailing_sector(planned_.plan, size, flash.sector_size()))
        flash.CheckTrailingSector(*sector, static_cast<uint32_t>(size));
}
