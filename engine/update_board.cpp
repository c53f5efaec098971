// CRomwright::UpdateBoard: load the file, identify the board, check the
// image, plan, then erase, write and verify on the flash backend of the
// board's mode, retrying the three steps as a whole with the same plan.
// An image that ends inside a sector is written to that sector too, padded
// with erased bytes, once a read of the board has shown that nothing past the
// image's end would be lost.
#include "engine/romwright_engine.hpp"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <optional>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/firmware_file.hpp"
#include "engine/pof_reader.hpp"
#include "engine/raw_image.hpp"

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
    IdentifyBoard(handle);
    CheckImage();
    ReadPageLayout();
    PlanSectors();
    if (!identity_.sector_mode) PlanPages();
    CheckTrailingSector();

    EraseWriteVerifyWithRetries(operation_callback, progress_callback);

    if (controller_attached_) flash_.Detach();
    controller_attached_ = false;
    board_ = nullptr;
    log().info("Board update time = {}s\n", clock_.wall_seconds() - start);
}

romwright::FlashWork CRomwright::Work() const {
    return romwright::FlashWork{CurrentImage().data, plan_, options_.debug, options_.max_retries};
}

// One attempt: erase, write and (if asked) verify.
void CRomwright::EraseWriteVerify(ROMWRIGHT_OPERATION_CALLBACK operation, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const auto report = [&](ROMWRIGHT_OPERATION value) {
        if (operation) operation(value, user_data_);
    };
    romwright::FlashBackend &flash = backend();
    const romwright::FlashWork work = Work();
    report(ROMWRIGHT_OPERATION_ERASING);
    flash.EraseSectors(work, progress);
    report(ROMWRIGHT_OPERATION_WRITING);
    flash.Write(work, progress);
    if (!options_.verify_pages) return;
    report(ROMWRIGHT_OPERATION_VERIFYING);
    flash.Verify(work, progress);
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
    romwright::FlashBackend &flash = backend();
    const std::size_t size = CurrentImage().data.size();
    if (size % flash.sector_size() == 0) return;
    const auto length = static_cast<uint32_t>(size);
    const uint32_t sector = length / flash.sector_size();
    if (sector >= plan_.erase_map.size() || !plan_.erase_map[sector]) return;
    flash.CheckTrailingSector(sector, length);
}
