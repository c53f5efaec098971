#include "engine/flash/service_flash.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include <fmt/format.h>

#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"

namespace romwright {
namespace {

constexpr const char *kFlashStatusNames[] = {
    "Flash idle",           "Flash busy",           "Flash busy tmout",        "Flash erase failed",
    "Flash program failed", "Flash protect failed", "Flash invalid parameter", "Flash unsupported",
};

// The sector size sizes buffers; a value no flash has is a fault of the
// library, not a reason to allocate gigabytes.
constexpr uint32_t kLargestSectorSize = 0x4000000;  // 64 MiB
// The flash status with which the service refuses a sector it does not have.
constexpr uint32_t kFlashInvalidParameter = 6;
// A read that the library answers without its data shows this.
constexpr uint8_t kUnreadServiceByte = 0x5A;

} // namespace

const char *FlashStatusName(uint32_t status) {
    if (status >= std::size(kFlashStatusNames)) return "?";
    return kFlashStatusNames[status];
}

UpdatePlan whole_file_plan(uint64_t file_size, uint32_t sector_size) {
    const uint64_t sectors = (file_size + sector_size - 1) / sector_size;
    UpdatePlan plan;
    plan.erase_map.assign(static_cast<std::size_t>(sectors), true);
    plan.erase_count = static_cast<int32_t>(sectors);
    return plan;
}

ServiceFlash::ServiceFlash(void *board, const LogSink &log, Clock &clock) : FlashBackend(board, log, clock) {
    uint32_t status = 0;
    if (KorvelFlashOpen(board_, 0, &sector_size_, &status) != ZENAPI_SUCCESS)
        throw romwright::error(error_kind::device_call,
                               fmt::format("Unable to open Flash, {}", FlashStatusName(status)));
    open_ = true;
}

void ServiceFlash::CheckSectorSize() const {
    if (sector_size_ == 0)
        throw romwright::error(error_kind::device_call, "Flash service reported a sector size of 0");
    if (sector_size_ > kLargestSectorSize)
        throw romwright::error(error_kind::device_call,
                               fmt::format("Flash service reported a sector size of {} bytes", sector_size_));
}

void ServiceFlash::Close() {
    open_ = false;
    const uint32_t result = KorvelFlashClose(board_);
    if (result != ZENAPI_SUCCESS)
        throw romwright::error(error_kind::device_call,
                               fmt::format("Unable to close flash, {}", zen::error_text(result)));
}

uint32_t ServiceFlash::CloseQuietly() noexcept {
    if (!open_) return ZENAPI_SUCCESS;
    open_ = false;
    return KorvelFlashClose(board_);
}

uint32_t ServiceFlash::ReadInto(uint32_t sector, uint8_t *out, uint32_t &status) {
    std::memset(out, kUnreadServiceByte, sector_size_);
    status = 0;
    return KorvelFlashSectorRead(board_, sector, 1, out, &status);
}

SectorRead ServiceFlash::ReadSector(uint32_t sector, uint8_t *out) {
    uint32_t status = 0;
    if (ReadInto(sector, out, status) == ZENAPI_SUCCESS) return SectorRead::ok(sector_size_);
    const auto outcome = status == kFlashInvalidParameter ? SectorRead::Outcome::beyond_flash
                                                          : SectorRead::Outcome::failed;
    return {outcome, fmt::format("Read sector {} failed, {}", sector, FlashStatusName(status)), 0};
}

void ServiceFlash::RewriteSector(uint32_t sector, const uint8_t *bytes, uint8_t *scratch) {
    const uint64_t base = uint64_t{sector} * sector_size_;
    uint32_t status = 0;
    const uint32_t result = KorvelFlashSectorWrite(board_, sector, 1, bytes, &status);
    if (result != ZENAPI_SUCCESS)
        throw romwright::error(error_kind::device_call,
                               fmt::format("Writing sector {} at 0x{:08X} failed: {}, {}", sector, base,
                                           zen::error_text(result), FlashStatusName(status)));
    const SectorRead read = ReadSector(sector, scratch);
    if (!read.whole())
        throw romwright::error(error_kind::verification,
                               fmt::format("Sector {} at 0x{:08X} could not be read back: {}", sector, base,
                                           read.failure));
    const auto differs = std::mismatch(scratch, scratch + sector_size_, bytes);
    if (differs.first != scratch + sector_size_)
        throw romwright::error(error_kind::verification,
                               fmt::format("Verify of sector {} failed at address 0x{:08X}", sector,
                                           base + static_cast<uint64_t>(differs.first - scratch)));
}

uint32_t ServiceFlash::ExpectedBytes(const FlashWork &work, uint64_t first, uint32_t length, uint8_t *out) const {
    CopyPadded(work.image, first, length, 0x00, out);
    return length;
}

void ServiceFlash::CheckFlashHolds(const FlashWork &work) {
    if (work.plan.erase_map.empty()) return;
    const uint32_t last = static_cast<uint32_t>(work.plan.erase_map.size() - 1);
    std::vector<uint8_t> scratch(sector_size_);
    uint32_t status = 0;
    if (ReadInto(last, scratch.data(), status) == ZENAPI_SUCCESS) return;
    if (status == kFlashInvalidParameter)
        throw romwright::error(error_kind::image,
                               fmt::format("Error: Firmware file of {} bytes is larger than the board's flash: "
                                           "sector {} ({} bytes from 0x{:08X}) does not exist (Read sector "
                                           "failed, {})",
                                           work.image.size(), last, sector_size_, uint64_t{last} * sector_size_,
                                           FlashStatusName(status)));
    throw romwright::error(error_kind::device_call, fmt::format("Read sector failed, {}", FlashStatusName(status)));
}

void ServiceFlash::Write(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const std::vector<bool> &sectors = work.plan.erase_map;
    std::vector<uint8_t> padded(sector_size_);
    int64_t done = 0;
    for (uint32_t i = 0; i < sectors.size(); ++i) {
        if (!sectors[i]) continue;
        const uint64_t first = uint64_t{i} * sector_size_;
        const uint8_t *bytes = work.image.data() + first;
        if (first + sector_size_ > work.image.size()) {
            ExpectedBytes(work, first, sector_size_, padded.data());
            bytes = padded.data();
        }
        uint32_t status = 0;
        if (KorvelFlashSectorWrite(board_, i, 1, bytes, &status) != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Write sector failed, {}", FlashStatusName(status)));
        Progress(progress, fraction(++done, work.plan.erase_count));
    }
}

void ServiceFlash::Verify(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const std::vector<bool> &sectors = work.plan.erase_map;
    std::vector<uint8_t> expected(sector_size_), read(sector_size_);
    int64_t done = 0;
    for (uint32_t i = 0; i < sectors.size(); ++i) {
        if (!sectors[i]) continue;
        uint32_t status = 0;
        if (ReadInto(i, read.data(), status) != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   fmt::format("Read sector failed, {}", FlashStatusName(status)));
        ExpectedBytes(work, uint64_t{i} * sector_size_, sector_size_, expected.data());
        if (read != expected) throw romwright::error(error_kind::verification, "Verify image failed");
        Progress(progress, fraction(++done, work.plan.erase_count));
    }
}

} // namespace romwright
