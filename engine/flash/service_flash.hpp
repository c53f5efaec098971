// The driver's flash-sector service: the library erases and writes one whole
// sector per call and reads one back, in sectors of the size it reports when
// the service is opened. An update writes the file's bytes from sector 0,
// the last sector padded with zero bytes, and reads every sector back.
#pragma once

#include <cstdint>
#include <string>

#include "engine/flash/flash_backend.hpp"

namespace romwright {

// The text of a flash status (the out-value of the flash-sector calls):
// "Flash idle", ..., "Flash unsupported", "?" beyond them.
const char *FlashStatusName(uint32_t status);

class ServiceFlash final : public FlashBackend {
public:
    // Opens the service (KorvelFlashOpen). Throws romwright::error (a device
    // call) "Unable to open Flash, <status>".
    ServiceFlash(void *board, const LogSink &log, Clock &clock);
    // Closes the service if it is still open.
    ~ServiceFlash() override { (void)CloseQuietly(); }

    // Refuses (romwright::error, a device call) a sector size no flash has
    // before anything is sized by it. The service stays open: the caller
    // closes it and reports that as it reports the rest.
    void CheckSectorSize() const;
    // Closes the service: "Unable to close flash, <library text>" when refused.
    void Close();
    // Closes the service if it is open and returns the library's answer
    // (success when there was nothing to close).
    uint32_t CloseQuietly() noexcept;

    ProgrammingPath path() const override { return ProgrammingPath::flash_sector_service; }
    uint32_t sector_size() const override { return sector_size_; }

    // A sector the service refuses with "Flash invalid parameter" lies beyond
    // the flash; any other refusal is a failure.
    SectorRead ReadSector(uint32_t sector, uint8_t *out) override;
    // Writes the sector (the service erases it first) and reads it back.
    void RewriteSector(uint32_t sector, const uint8_t *bytes, uint8_t *scratch) override;
    // The file's bytes, zero bytes past its end.
    uint32_t ExpectedBytes(const FlashWork &work, uint64_t first, uint32_t length, uint8_t *out) const override;

    // Before anything is written: the flash holds the last sector the file
    // needs (the service tells its sector size, not its flash size).
    void CheckFlashHolds(const FlashWork &work);
    // Every planned sector written, then read back and compared; progress
    // per sector. The messages are the update's ("Write sector failed,
    // <status>", "Read sector failed, <status>", "Verify image failed").
    void Write(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) override;
    void Verify(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) override;

private:
    // The library's read of one sector into out, which starts unfilled; the
    // call's result, and the flash status it reports.
    uint32_t ReadInto(uint32_t sector, uint8_t *out, uint32_t &status);

    uint32_t sector_size_ = 0;
    bool open_ = false;
};

// The sectors of the service's size that a file of file_size bytes takes,
// all planned (an empty file takes none).
UpdatePlan whole_file_plan(uint64_t file_size, uint32_t sector_size);

} // namespace romwright
