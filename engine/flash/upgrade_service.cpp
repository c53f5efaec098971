#include "engine/flash/upgrade_service.hpp"

#include <algorithm>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/devlib/zen.hpp"

namespace romwright {
namespace {

// The driver decides when an upgrade ends, but a driver whose answer has not
// moved for this long is not going to finish.
constexpr uint64_t kUpgradeStallMs = 600'000;
constexpr uint32_t kUpgradePollMs = 1;
constexpr uint32_t kFullPercent = 100;

romwright::error cannot_read() {
    return romwright::error(error_kind::board,
                            "The driver's firmware-upgrade service takes a whole image and cannot read the flash");
}

} // namespace

SectorRead UpgradeService::ReadSector(uint32_t, uint8_t *) { throw cannot_read(); }

void UpgradeService::RewriteSector(uint32_t, const uint8_t *, uint8_t *) { throw cannot_read(); }

uint32_t UpgradeService::ExpectedBytes(const FlashWork &work, uint64_t first, uint32_t length, uint8_t *out) const {
    const uint64_t decided = first < work.image.size() ? std::min<uint64_t>(length, work.image.size() - first) : 0;
    CopyPadded(work.image, first, length, kErasedByte, out);
    return static_cast<uint32_t>(decided);
}

void UpgradeService::Start(const FlashWork &work) {
    zen::firmware_upgrade_start(board_, work.image.data(), work.image.size());
}

// Polls until the driver reports an end; progress goes out on every poll.
void UpgradeService::Follow(ROMWRIGHT_PROGRESS_CALLBACK progress) {
    uint64_t last_change_ms = clock_.monotonic_ms();
    uint32_t last_percent = 0;
    bool first = true;
    for (;;) {
        const auto [status, percent] = zen::firmware_upgrade_exec_and_get_status(board_);
        Progress(progress, static_cast<float>(std::min(percent, kFullPercent)) / 100.0f);
        if (status == zen::firmware_upgrade_status::succeeded) return;
        if (status != zen::firmware_upgrade_status::in_progress) {
            log_.error("Firmware upgrade failed\n");
            throw romwright::error(error_kind::device_call, "Upgrade firmware failed");
        }
        const uint64_t now_ms = clock_.monotonic_ms();
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
        clock_.sleep_ms(kUpgradePollMs);
    }
}

} // namespace romwright
