// The driver's firmware-upgrade service: it takes the whole image at once,
// programs it as it sees fit and reports its progress; it reads nothing back
// and verifies on its own. What it leaves past the image's end is the
// driver's choice, so only the image's own bytes are what an update decides.
#pragma once

#include <cstdint>

#include "engine/flash/flash_backend.hpp"

namespace romwright {

class UpgradeService final : public FlashBackend {
public:
    UpgradeService(void *board, const LogSink &log, Clock &clock) : FlashBackend(board, log, clock) {}

    ProgrammingPath path() const override { return ProgrammingPath::firmware_upgrade_service; }
    // No sectors: the service takes the image whole.
    uint32_t sector_size() const override { return 0; }

    // Nothing can be read or written a sector at a time: each throws
    // romwright::error (a board) saying so.
    SectorRead ReadSector(uint32_t sector, uint8_t *out) override;
    void RewriteSector(uint32_t sector, const uint8_t *bytes, uint8_t *scratch) override;
    // The image's bytes; nothing past its end.
    uint32_t ExpectedBytes(const FlashWork &work, uint64_t first, uint32_t length, uint8_t *out) const override;

    // Start hands the image to the driver; Follow follows the upgrade to its
    // end, reporting its percent on every poll, and throws romwright::error
    // when the driver reports a failure ("Firmware upgrade failed" is logged
    // first) or when its answer has not moved for ten minutes. Write is both.
    void Start(const FlashWork &work);
    void Follow(ROMWRIGHT_PROGRESS_CALLBACK progress);
    void Write(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) override {
        Start(work);
        Follow(progress);
    }
    // The service verifies what it programs.
    void Verify(const FlashWork &, ROMWRIGHT_PROGRESS_CALLBACK) override {}
};

} // namespace romwright
