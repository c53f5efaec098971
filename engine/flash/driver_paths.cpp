// The two programming paths that hand the firmware file to the board driver
// unchanged: the firmware-upgrade service takes it whole and reports its own
// progress; the flash-sector service takes it in whole sectors, which the
// engine then reads back and compares.
#include "engine/flash/driver_paths.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"
#include "engine/image/firmware_file.hpp"
#include "engine/core/log_sink.hpp"

namespace romwright {
namespace {

constexpr const char *kFlashStatusNames[] = {
    "Flash idle",           "Flash busy",           "Flash busy tmout",        "Flash erase failed",
    "Flash program failed", "Flash protect failed", "Flash invalid parameter", "Flash unsupported",
};

// The driver decides when an upgrade ends, but a driver whose answer has not
// moved for this long is not going to finish.
constexpr uint64_t kUpgradeStallMs = 600'000;
constexpr uint32_t kUpgradePollMs = 1;
constexpr uint32_t kFullPercent = 100;
// The service's sector size sizes two buffers; a value no flash has is a
// fault of the library, not a reason to allocate gigabytes.
constexpr uint32_t kLargestSectorSize = 0x4000000;  // 64 MiB
// The flash status with which the service refuses a sector it does not have.
constexpr uint32_t kFlashInvalidParameter = 6;

// The kind of what made a path fail; its summary keeps it.
error_kind kind_of(const std::exception &failure) {
    const auto *known = dynamic_cast<const romwright::error *>(&failure);
    return known ? known->kind() : error_kind::internal;
}

void report_operation(ROMWRIGHT_OPERATION_CALLBACK callback, ROMWRIGHT_OPERATION operation, void *user_data) {
    if (callback) callback(operation, user_data);
}

void report_progress(ROMWRIGHT_PROGRESS_CALLBACK callback, float fraction, void *user_data) {
    if (callback) callback(fraction, user_data);
}

float fraction_of(uint64_t done, uint64_t total) { return static_cast<float>(done) / static_cast<float>(total); }

// The firmware file, opened and checked. A file that cannot be opened is an
// error naming it rather than an empty image, which a driver might accept
// and program.
FirmwareFile open_firmware(const std::string &path) {
    std::optional<FirmwareFile> file = FirmwareFile::open(path);
    if (!file) throw romwright::error(error_kind::file, fmt::format("Could not open file {}", path));
    zen::fit_u32(file->size());  // neither service takes more; refuse before allocating
    return std::move(*file);
}

// Polls until the driver reports an end; progress goes out on every poll.
zen::firmware_upgrade_status follow_upgrade(void *board, ROMWRIGHT_PROGRESS_CALLBACK progress, void *user_data,
                                            Clock &clock) {
    uint64_t last_change_ms = clock.monotonic_ms();
    uint32_t last_percent = 0;
    bool first = true;
    for (;;) {
        const auto [status, percent] = zen::firmware_upgrade_exec_and_get_status(board);
        report_progress(progress, static_cast<float>(std::min(percent, kFullPercent)) / 100.0f, user_data);
        if (status != zen::firmware_upgrade_status::in_progress) return status;
        const uint64_t now_ms = clock.monotonic_ms();
        if (first || percent != last_percent) {
            first = false;
            last_percent = percent;
            last_change_ms = now_ms;
        } else if (now_ms - last_change_ms >= kUpgradeStallMs) {
            throw romwright::error(
                error_kind::timeout,
                fmt::format("Firmware upgrade stalled: KorvelFirmwareUpgradeExecAndGetStatus reported {}% for {} s",
                            percent, kUpgradeStallMs / 1000));
        }
        clock.sleep_ms(kUpgradePollMs);
    }
}

void write_sectors(void *board, const ByteBuffer &image, uint32_t count, uint32_t sector_size,
                   ROMWRIGHT_PROGRESS_CALLBACK progress, void *user_data) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t status = 0;
        const uint8_t *sector = image.data() + static_cast<std::size_t>(i) * sector_size;
        if (KorvelFlashSectorWrite(board, i, 1, sector, &status) != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Write sector failed, {}", FlashStatusName(status)));
        report_progress(progress, fraction_of(i + 1ull, count), user_data);
    }
}

void verify_sectors(void *board, const uint8_t *expected, uint32_t first, uint32_t count, uint32_t size,
                    uint8_t *scratch, ROMWRIGHT_PROGRESS_CALLBACK progress, void *user_data) {
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t status = 0;
        if (KorvelFlashSectorRead(board, first + k, 1, scratch, &status) != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Read sector failed, {}", FlashStatusName(status)));
        if (std::memcmp(scratch, expected + static_cast<std::size_t>(k) * size, size) != 0)
            throw romwright::error(error_kind::verification, "Verify image failed");
        report_progress(progress, fraction_of(k + 1ull, count), user_data);
    }
}

// The service tells the sector size but not the flash size: reading the last
// sector the file needs shows, before anything is written, whether the flash
// has it. A flash too small would otherwise be overwritten up to its end
// before the first write beyond it failed.
void check_flash_holds(void *board, uint64_t file_size, uint32_t sectors, uint32_t sector_size, uint8_t *scratch) {
    const uint32_t last = sectors - 1;
    uint32_t status = 0;
    if (KorvelFlashSectorRead(board, last, 1, scratch, &status) == ZENAPI_SUCCESS) return;
    if (status == kFlashInvalidParameter)
        throw romwright::error(error_kind::image,
                               fmt::format("Error: Firmware file of {} bytes is larger than the board's flash: "
                                           "sector {} ({} bytes from 0x{:08X}) does not exist (Read sector "
                                           "failed, {})",
                                           file_size, last, sector_size, uint64_t{last} * sector_size,
                                           FlashStatusName(status)));
    throw romwright::error(error_kind::device_call, fmt::format("Read sector failed, {}", FlashStatusName(status)));
}

// The file's bytes followed by zero bytes up to whole sectors, read straight
// into their place: only the padding is written before the read.
ByteBuffer read_into_sectors(FirmwareFile &file, uint32_t sectors, uint32_t sector_size) {
    const uint64_t padded = uint64_t{sectors} * sector_size;
    if (padded > std::numeric_limits<std::size_t>::max())
        throw romwright::error(error_kind::image,
                               fmt::format("Error: {} sectors of {} bytes do not fit in memory", sectors, sector_size));
    ByteBuffer image(static_cast<std::size_t>(padded));
    const std::size_t size = static_cast<std::size_t>(file.size());
    file.read(0, image.data(), size);
    std::memset(image.data() + size, 0, image.size() - size);
    return image;
}

} // namespace

const char *FlashStatusName(uint32_t status) {
    if (status >= std::size(kFlashStatusNames)) return "?";
    return kFlashStatusNames[status];
}

void UpgradeThroughDriver(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
                          ROMWRIGHT_PROGRESS_CALLBACK progress, ROMWRIGHT_LOG_CALLBACK log_callback, void *user_data,
                          Clock &clock) {
    const LogSink log(log_callback, user_data);
    const int64_t start_seconds = clock.wall_seconds();
    try {
        FirmwareFile file = open_firmware(path);
        ByteBuffer image(static_cast<std::size_t>(file.size()));
        file.read(0, image.data(), image.size());
        zen::firmware_upgrade_start(board, image.data(), image.size());
        report_operation(operation, ROMWRIGHT_OPERATION_WRITING, user_data);
        if (follow_upgrade(board, progress, user_data, clock) != zen::firmware_upgrade_status::succeeded) {
            log.error("Firmware upgrade failed\n");
            throw romwright::error(error_kind::device_call, "Upgrade firmware failed");
        }
    } catch (const std::exception &failure) {
        log.error("{}\n", failure.what());
        throw romwright::error(kind_of(failure), "Upgrade firmware failed");
    }
    log.info("Board update time = {}s\n", clock.wall_seconds() - start_seconds);
}

void UpdateThroughFlashService(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
                               ROMWRIGHT_PROGRESS_CALLBACK progress, ROMWRIGHT_LOG_CALLBACK log_callback,
                               void *user_data, Clock &clock) {
    const LogSink log(log_callback, user_data);
    const int64_t start_seconds = clock.wall_seconds();
    bool flash_open = false;
    try {
        FirmwareFile file = open_firmware(path);
        uint32_t sector_size = 0;
        uint32_t status = 0;
        if (KorvelFlashOpen(board, 0, &sector_size, &status) != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Unable to open Flash, {}", FlashStatusName(status)));
        flash_open = true;
        if (sector_size == 0)
            throw romwright::error(error_kind::device_call, "Flash service reported a sector size of 0");
        if (sector_size > kLargestSectorSize)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Flash service reported a sector size of {} bytes", sector_size));

        // The file size fits 32 bits and is at least 1, so the count fits too and is at least 1.
        const uint32_t sectors = static_cast<uint32_t>((file.size() + uint64_t{sector_size} - 1) / sector_size);
        ByteBuffer scratch(sector_size);
        check_flash_holds(board, file.size(), sectors, sector_size, scratch.data());
        const ByteBuffer image = read_into_sectors(file, sectors, sector_size);

        report_operation(operation, ROMWRIGHT_OPERATION_WRITING, user_data);
        write_sectors(board, image, sectors, sector_size, progress, user_data);
        report_operation(operation, ROMWRIGHT_OPERATION_VERIFYING, user_data);
        verify_sectors(board, image.data(), 0, sectors, sector_size, scratch.data(), progress, user_data);

        flash_open = false;
        const uint32_t result = KorvelFlashClose(board);
        if (result != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Unable to close flash, {}", zen::error_text(result)));
    } catch (const std::exception &failure) {
        // Close the service a failure left open; the failure stays the one
        // reported, a refused close only adds a warning after it.
        const uint32_t close_result = flash_open ? KorvelFlashClose(board) : ZENAPI_SUCCESS;
        log.error("{}\n", failure.what());
        if (close_result != ZENAPI_SUCCESS) log.warning("Unable to close flash, {}\n", zen::error_text(close_result));
        throw romwright::error(kind_of(failure), "Update Flash image failed");
    } catch (...) {
        // Whatever a callback threw, the service does not stay open behind it.
        if (flash_open) KorvelFlashClose(board);
        throw;
    }
    log.info("Board update time = {}s\n", clock.wall_seconds() - start_seconds);
}

void VerifyFlashSectors(void *board, const uint8_t *expected, uint32_t first, uint32_t count, uint32_t size,
                        ROMWRIGHT_PROGRESS_CALLBACK progress, void *user_data) {
    ByteBuffer scratch(size);
    verify_sectors(board, expected, first, count, size, scratch.data(), progress, user_data);
}

} // namespace romwright
