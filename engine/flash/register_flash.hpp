// The two register paths the engine programs itself: page mode (PageFlash)
// and sector mode (SectorFlash). What they share: the erase and the erase
// check of one sector, reading, writing and comparing a whole sector, the
// erase step of an update with its retries and log lines, the check of the
// sector an image ends inside, and the reset before a retry. Erased flash
// reads 0xFF, so an image that ends inside a sector leaves the rest of it
// erased.
#pragma once

#include <cstdint>
#include <string>

#include "engine/flash/flash_backend.hpp"
#include "engine/flash/flash_pc28f.hpp"

namespace romwright {

class RegisterFlash : public FlashBackend {
public:
    // What one write programs: a 32-byte page, or the whole sector.
    virtual uint32_t write_unit() const = 0;

    // EraseSector erases without looking; SectorReadsErased is the erase
    // check: true when the sector reads erased, otherwise the log says where
    // it does not, with a dump. WriteSector programs an erased sector with
    // bytes (sector_size() of them; in page mode only its pages that are not
    // blank). SectorMatches reads the sector and compares it with bytes.
    virtual void EraseSector(uint32_t sector) = 0;
    virtual bool SectorReadsErased(uint32_t sector) = 0;
    virtual void WriteSector(uint32_t sector, const uint8_t *bytes) = 0;
    virtual bool SectorMatches(uint32_t sector, const uint8_t *bytes) = 0;
    void RewriteSector(uint32_t sector, const uint8_t *bytes, uint8_t *scratch) override;

    // The erase step of an update: each planned sector erased and checked,
    // a sector erased again up to max_retries times.
    void EraseSectors(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress);

    // Before the first erase: the sector an image of length bytes ends inside
    // may be erased only where the board holds nothing past that end (the
    // erase would lose it) and can be read at all.
    virtual void CheckTrailingSector(uint32_t sector, uint32_t length) = 0;

    // Brings the board's side to a known state before attempt `retry` of
    // max_retries; a failure to do so is a warning, the attempt still runs.
    virtual void ResetForRetry(int32_t retry, int32_t max_retries) = 0;

protected:
    // driver is the board's flash controller driver, attached to board in
    // sector mode and never attached in page mode.
    RegisterFlash(void *board, CFlashPC28F &driver, const LogSink &log, Clock &clock)
        : FlashBackend(board, log, clock), driver_(driver) {}

    // The refusals of CheckTrailingSector: the sector could not be read
    // (what says why), or holds data at address past the image's end.
    std::string UnreadableTail(uint32_t sector, uint32_t length, const std::string &what) const;
    static std::string DataPastTheEnd(uint32_t sector, uint32_t address, uint32_t length);

    CFlashPC28F &driver_;
};

// What an unfilled read buffer holds: a pattern neither erased flash (0xFF)
// nor zero, so that a read answered without its data never passes for the
// flash's bytes, nor for the bytes of the sector read before it.
inline constexpr uint8_t kUnreadByte = 0x5A;

} // namespace romwright
