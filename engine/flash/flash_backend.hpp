// How an update reaches a board's flash, chosen once by identification: the
// device library's page calls (PageFlash, page_flash.hpp) or the flash
// controller behind the FPGA (SectorFlash, sector_flash.hpp). A backend owns
// its mode's geometry, the erase and the erase check of one sector, reading,
// writing and comparing a whole sector, the mode's write and verify steps
// with their log lines, the check of the sector an image ends inside, the
// reset before a retry, and what a plan costs on the board.
//
// The update's steps are EraseSectors (here, the same for both modes over the
// per-sector erase and check), then Write and Verify: WritePages and
// VerifyPages in page mode, WriteSectors and VerifySectors in sector mode.
// The per-sector operations serve a program that backs a flash up, restores
// chosen sectors or skips sectors that already hold the image, without a
// second copy of the flash drivers.
#pragma once

#include <cstdint>
#include <vector>

#include <romwright/romwright.h>

#include "engine/core/clock.hpp"
#include "engine/flash/flash_pc28f.hpp"
#include "engine/core/log_sink.hpp"
#include "engine/plan/planner.hpp"

namespace romwright {

// What the flash steps work on: the current image (a picture of the flash
// from address 0; past its end the flash reads 0xFF after the erase), the
// plan, and the two options that shape the steps.
struct FlashWork {
    const std::vector<uint8_t> &image;
    const UpdatePlan &plan;
    bool debug = false;        // timing lines
    int32_t max_retries = 15;  // erases of one sector that does not read erased, after the first
};

// What a plan costs on the board when every step succeeds at the first try
// and the board answers at once: the device-library calls, the commands the
// flash controller runs, and the least time of the pauses the controller's
// protocol prescribes. A slower board only adds to the time.
struct FlashCost {
    uint64_t library_calls = 0;
    uint64_t controller_commands = 0;  // 0 in page mode
    uint64_t pause_ms = 0;             // 0 in page mode
};

class FlashBackend {
public:
    virtual ~FlashBackend() = default;
    FlashBackend(const FlashBackend &) = delete;
    FlashBackend &operator=(const FlashBackend &) = delete;

    // Geometry: the erase unit, and what one write programs (a 32-byte page,
    // or the whole sector).
    virtual uint32_t sector_size() const = 0;
    virtual uint32_t write_unit() const = 0;

    // One sector at a time. ReadSector fills out with sector_size() bytes
    // and returns how many came before a read failed (all of them normally).
    // WriteSector programs an erased sector with bytes (sector_size() of
    // them; in page mode only its pages that are not blank). SectorMatches
    // reads the sector and compares it with bytes.
    virtual void EraseSector(uint32_t sector) = 0;
    virtual uint32_t ReadSector(uint32_t sector, uint8_t *out) = 0;
    virtual void WriteSector(uint32_t sector, const uint8_t *bytes) = 0;
    virtual bool SectorMatches(uint32_t sector, const uint8_t *bytes) = 0;
    // ReadSector with fewer library calls where the mode allows it (the same
    // reads underneath); the steps of romwright-cli's update never use it.
    virtual uint32_t ReadSectorQuickly(uint32_t sector, uint8_t *out) { return ReadSector(sector, out); }
    // The erase check: true when the sector reads erased; otherwise the log
    // says where it does not, with a dump, and the result is false.
    virtual bool SectorReadsErased(uint32_t sector) = 0;

    // The steps of an update. EraseSectors erases each planned sector and
    // checks it, erasing a sector again up to max_retries times.
    void EraseSectors(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress);
    virtual void Write(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) = 0;
    virtual void Verify(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) = 0;

    // Before the first erase: the sector an image of length bytes ends inside
    // may be erased only where the board holds nothing past that end (the
    // erase would lose it) and can be read at all.
    virtual void CheckTrailingSector(uint32_t sector, uint32_t length) = 0;

    // Brings the board's side to a known state before attempt `retry` of
    // max_retries; a failure to do so is a warning, the attempt still runs.
    virtual void ResetForRetry(int32_t retry, int32_t max_retries) = 0;

    virtual FlashCost Cost(const FlashWork &work, bool verify) const = 0;

protected:
    // log is the engine's log callback and user data; progress reports go to
    // the same user data. driver is the board's flash controller driver,
    // attached to board in sector mode and never attached in page mode.
    FlashBackend(void *board, CFlashPC28F &driver, const LogSink &log, Clock &clock)
        : board_(board), driver_(driver), log_(log), clock_(clock) {}

    void Progress(ROMWRIGHT_PROGRESS_CALLBACK progress, float fraction) const;
    // The image's bytes from offset, size of them; past the image's end they
    // read 0xFF, as the flash does after the erase.
    const uint8_t *ImageBytes(const std::vector<uint8_t> &image, uint64_t offset, uint32_t size);

    void *board_;
    CFlashPC28F &driver_;
    LogSink log_;
    Clock &clock_;

private:
    // A copy of image bytes that run past the image's end, padded with 0xFF;
    // allocated once, filled again for every use.
    std::vector<uint8_t> padded_;
};

// Fraction done of a step, as a front end's progress shows it.
inline float fraction(int64_t done, int64_t total) { return static_cast<float>(done) / static_cast<float>(total); }

} // namespace romwright
