// Page mode: the flash reached through the device library's page calls,
// which serve every page-mode board kind. Erase sectors of 128 KB, pages of
// 32 bytes (16 words of 16 bits) at 16-bit word addresses; every page read
// and page write is bracketed by the flash enable.
#pragma once

#include <cstdint>

#include "engine/flash/register_flash.hpp"

namespace romwright {

// Switches the board's flash access (bit 3 of the flash enable register) on
// or off, leaving the other bits as read. A failed access raises "Error in
// CRomwright::EnableFlash: <library text>".
void enable_flash(void *board, bool enable);

class PageFlash final : public RegisterFlash {
public:
    // driver is the board's flash controller driver, which must not be
    // attached: while it is, the page calls are refused.
    PageFlash(void *board, CFlashPC28F &driver, const LogSink &log, Clock &clock)
        : RegisterFlash(board, driver, log, clock) {}

    ProgrammingPath path() const override { return ProgrammingPath::page_mode; }
    uint32_t sector_size() const override { return kPageModeSectorSize; }
    uint32_t write_unit() const override { return kPageSize; }
    // An update never erases the first 128 KB.
    uint32_t protected_bytes() const override { return kPageModeSectorSize; }

    void EraseSector(uint32_t sector) override;
    // A page read the library refuses as an address it does not have ends
    // the flash; any other refusal is a failure.
    SectorRead ReadSector(uint32_t sector, uint8_t *out) override;
    // Of a sector the plan erases: the planned pages hold the image, the
    // others read erased.
    uint32_t ExpectedBytes(const FlashWork &work, uint64_t first, uint32_t length, uint8_t *out) const override;
    void WriteSector(uint32_t sector, const uint8_t *bytes) override;
    bool SectorMatches(uint32_t sector, const uint8_t *bytes) override;
    bool SectorReadsErased(uint32_t sector) override;

    void Write(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) override { WritePages(work, progress); }
    void Verify(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) override { VerifyPages(work, progress); }
    // The planned pages (the write map), each written, or read back and compared.
    void WritePages(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress);
    void VerifyPages(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress);

    void CheckTrailingSector(uint32_t sector, uint32_t length) override;
    void ResetForRetry(int32_t, int32_t) override {}  // no state survives a failed page call

    // The library calls of romwright-cli's update of the plan (verify on or off).
    static FlashCost Cost(const FlashWork &work, bool verify);

private:
    // Reads 32 bytes at a 16-bit word address; returns the first device-library
    // result that was not success, else success. The erase check and the
    // verify leave the results to the comparison that follows.
    uint32_t ReadPage(uint32_t word_address, uint8_t out[kPageSize]);
    SectorRead ReadPageOfSector(uint32_t page, uint8_t *out);
    void WritePage(uint32_t page, const uint8_t bytes[kPageSize]);
    // The page calls need the flash controller driver off the board.
    void RequireNoDriver(const char *refusal) const;
};

} // namespace romwright
