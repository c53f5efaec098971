// Sector mode: the flash reached through the flash controller behind the
// FPGA (CFlashPC28F), in sectors of 256 KB that are erased, written and read
// whole. Reads go through one buffer aligned to the system's allocation
// granularity; nothing is allocated per sector.
#pragma once

#include <cstdint>

#include "engine/flash/register_flash.hpp"

namespace romwright {

class SectorFlash final : public RegisterFlash {
public:
    // driver must be attached to board while the flash is reached (it is
    // refused otherwise); buffer is one sector of scratch, aligned, owned
    // by the caller.
    SectorFlash(void *board, CFlashPC28F &driver, uint8_t *buffer, const LogSink &log, Clock &clock)
        : RegisterFlash(board, driver, log, clock), buffer_(buffer) {}

    ProgrammingPath path() const override { return ProgrammingPath::sector_mode; }
    uint32_t sector_size() const override { return kSectorModeSectorSize; }
    uint32_t write_unit() const override { return kSectorModeSectorSize; }

    void EraseSector(uint32_t sector) override;
    // A read burst that brings no word and that the controller refused
    // (error result 1: a block it does not have) ends the flash; any other
    // shortfall is a failure.
    SectorRead ReadSector(uint32_t sector, uint8_t *out) override;
    SectorRead ReadSectorQuickly(uint32_t sector, uint8_t *out) override;
    // A failed burst may still be running, with words in the FIFOs.
    void Recover() override;
    // The sector whole: the image, erased bytes past its end.
    uint32_t ExpectedBytes(const FlashWork &work, uint64_t first, uint32_t length, uint8_t *out) const override;
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

    // What romwright-cli's update of the plan costs (verify on or off), from
    // the costs the controller driver gives for each of its operations, on
    // a flash whose blocks are locked, as it powers up.
    static FlashCost Cost(const FlashWork &work, bool verify);

private:
    // words of the sector came: whole, or why not.
    SectorRead Outcome(uint32_t sector, uint32_t words);

    // The controller driver must hold the board.
    void RequireDriver(const char *refusal) const;

    uint8_t *buffer_;
};

} // namespace romwright
