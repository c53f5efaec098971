// Sector mode: the flash reached through the flash controller behind the
// FPGA (CFlashPC28F), in sectors of 256 KB that are erased, written and read
// whole. Reads go through one buffer aligned to the system's allocation
// granularity; nothing is allocated per sector.
#pragma once

#include <cstdint>

#include "engine/flash/flash_backend.hpp"

namespace romwright {

class SectorFlash final : public FlashBackend {
public:
    // driver must be attached to board while the flash is reached (it is
    // refused otherwise); buffer is one sector of scratch, aligned, owned
    // by the caller.
    SectorFlash(void *board, CFlashPC28F &driver, uint8_t *buffer, const LogSink &log, Clock &clock)
        : FlashBackend(board, driver, log, clock), buffer_(buffer) {}

    uint32_t sector_size() const override { return kSectorModeSectorSize; }
    uint32_t write_unit() const override { return kSectorModeSectorSize; }

    void EraseSector(uint32_t sector) override;
    uint32_t ReadSector(uint32_t sector, uint8_t *out) override;
    uint32_t ReadSectorQuickly(uint32_t sector, uint8_t *out) override;
    void WriteSector(uint32_t sector, const uint8_t *bytes) override;
    bool SectorMatches(uint32_t sector, const uint8_t *bytes) override;
    bool SectorReadsErased(uint32_t sector) override;

    void Write(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) override { WriteSectors(work, progress); }
    void Verify(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) override { VerifySectors(work, progress); }
    // The erased sectors (the erase map), each written whole, blank parts
    // included, or read back and compared.
    void WriteSectors(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress);
    void VerifySectors(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress);

    void CheckTrailingSector(uint32_t sector, uint32_t length) override;
    void ResetForRetry(int32_t retry, int32_t max_retries) override;
    FlashCost Cost(const FlashWork &work, bool verify) const override;

private:
    // The controller driver must hold the board.
    void RequireDriver(const char *refusal) const;

    uint8_t *buffer_;
};

} // namespace romwright
