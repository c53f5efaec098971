// The two programming paths that hand the firmware file to the board driver
// unchanged: the firmware-upgrade service takes it whole and reports its own
// progress; the flash-sector service takes it in whole sectors, which the
// engine then reads back and compares.
#include "engine/flash/driver_paths.hpp"

#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"
#include "engine/flash/upgrade_service.hpp"
#include "engine/image/firmware_file.hpp"

namespace romwright {
namespace {

// The kind of what made a path fail; its summary keeps it.
error_kind kind_of(const std::exception &failure) {
    const auto *known = dynamic_cast<const romwright::error *>(&failure);
    return known ? known->kind() : error_kind::internal;
}

void report_operation(ROMWRIGHT_OPERATION_CALLBACK callback, ROMWRIGHT_OPERATION operation, void *user_data) {
    if (callback) callback(operation, user_data);
}

// The firmware file's bytes. A file that cannot be opened is an error naming
// it rather than an empty image, which a driver might accept and program;
// neither service takes more than 32 bits of size, refused before allocating.
std::vector<uint8_t> firmware_bytes(const std::string &path) {
    std::optional<FirmwareFile> file = FirmwareFile::open(path);
    if (!file) throw romwright::error(error_kind::file, fmt::format("Could not open file {}", path));
    std::vector<uint8_t> bytes(zen::fit_u32(file->size()));
    file->read(0, bytes.data(), bytes.size());
    return bytes;
}

} // namespace

void UpgradeThroughDriver(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
                          ROMWRIGHT_PROGRESS_CALLBACK progress, ROMWRIGHT_LOG_CALLBACK log_callback, void *user_data,
                          Clock &clock) {
    const LogSink log(log_callback, user_data);
    const int64_t start_seconds = clock.wall_seconds();
    try {
        const std::vector<uint8_t> image = firmware_bytes(path);
        const UpdatePlan whole{};
        UpgradeService service(board, log, clock);
        service.Start(FlashWork{image, whole});
        report_operation(operation, ROMWRIGHT_OPERATION_WRITING, user_data);
        service.Follow(progress);
    } catch (const std::exception &failure) {
        log.error("{}\n", failure.what());
        throw romwright::error(kind_of(failure), "Upgrade firmware failed");
    }
    log.info("Board update time = {}s\n", clock.wall_seconds() - start_seconds);
}

namespace {

// Clears from plan the sectors that already read as the update leaves them;
// how many. A sector that cannot be read stays planned: it is written and
// read back like any other.
uint32_t leave_matching_sectors(ServiceFlash &flash, const std::vector<uint8_t> &image, UpdatePlan &plan,
                                ROMWRIGHT_PROGRESS_CALLBACK progress, void *user_data) {
    const FlashWork work{image, plan};
    const uint32_t size = flash.sector_size();
    std::vector<uint8_t> read(size), expected(size);
    uint32_t left = 0;
    const auto count = static_cast<uint32_t>(plan.erase_map.size());
    for (uint32_t i = 0; i < count; ++i) {
        if (flash.ReadSector(i, read.data()).whole()) {
            flash.ExpectedBytes(work, uint64_t{i} * size, size, expected.data());
            if (read == expected) {
                plan.erase_map[i] = false;
                --plan.erase_count;
                ++left;
            }
        }
        if (progress) progress(static_cast<float>(i + 1) / static_cast<float>(count), user_data);
    }
    return left;
}

} // namespace

void UpdateThroughFlashService(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
                               ROMWRIGHT_PROGRESS_CALLBACK progress, ROMWRIGHT_LOG_CALLBACK log_callback,
                               void *user_data, Clock &clock, UpdateReport *report, bool skip_matching) {
    const LogSink log(log_callback, user_data);
    const int64_t start_seconds = clock.wall_seconds();
    std::optional<ServiceFlash> flash;
    try {
        const std::vector<uint8_t> image = firmware_bytes(path);
        flash.emplace(board, log, clock);
        flash->CheckSectorSize();
        // The file size fits 32 bits and is at least 1, so the count fits too and is at least 1.
        UpdatePlan plan = whole_file_plan(image.size(), flash->sector_size());
        flash->CheckFlashHolds(FlashWork{image, plan});
        uint32_t left = 0;
        if (skip_matching) {
            const auto planned = static_cast<uint32_t>(plan.erase_count);
            report_operation(operation, ROMWRIGHT_OPERATION_VERIFYING, user_data);
            left = leave_matching_sectors(*flash, image, plan, progress, user_data);
            log.info("Skipped {} of {} sectors that already hold the image; erased {}, wrote and verified {}.\n", left,
                     planned, plan.erase_count, plan.erase_count);
        }
        const FlashWork work{image, plan};

        report_operation(operation, ROMWRIGHT_OPERATION_WRITING, user_data);
        flash->Write(work, progress);
        report_operation(operation, ROMWRIGHT_OPERATION_VERIFYING, user_data);
        flash->Verify(work, progress);
        flash->Close();
        if (report) {
            report->path = ProgrammingPath::flash_sector_service;
            report->sectors_erased = report->sectors_written = static_cast<uint32_t>(plan.erase_count);
            report->sectors_skipped = left;
        }
    } catch (const std::exception &failure) {
        // Close the service a failure left open; the failure stays the one
        // reported, a refused close only adds a warning after it.
        const uint32_t close_result = flash ? flash->CloseQuietly() : ZENAPI_SUCCESS;
        log.error("{}\n", failure.what());
        if (close_result != ZENAPI_SUCCESS) log.warning("Unable to close flash, {}\n", zen::error_text(close_result));
        throw romwright::error(kind_of(failure), "Update Flash image failed");
    }
    log.info("Board update time = {}s\n", clock.wall_seconds() - start_seconds);
}

void VerifyFlashSectors(void *board, const uint8_t *expected, uint32_t first, uint32_t count, uint32_t size,
                        ROMWRIGHT_PROGRESS_CALLBACK progress, void *user_data) {
    std::vector<uint8_t> scratch(size);
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t status = 0;
        if (KorvelFlashSectorRead(board, first + k, 1, scratch.data(), &status) != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Read sector failed, {}", FlashStatusName(status)));
        if (std::memcmp(scratch.data(), expected + static_cast<std::size_t>(k) * size, size) != 0)
            throw romwright::error(error_kind::verification, "Verify image failed");
        if (progress) progress(fraction(k + 1, count), user_data);
    }
}

} // namespace romwright
