// How an update reaches a board's flash: one backend per programming path.
// The register paths are the device library's page calls (PageFlash,
// page_flash.hpp) and the flash controller behind the FPGA (SectorFlash,
// sector_flash.hpp), both register_flash.hpp; the driver's services are the
// flash-sector service (ServiceFlash, service_flash.hpp) and the
// firmware-upgrade service (UpgradeService, upgrade_service.hpp).
//
// A backend owns what its path writes and what it expects to read back, the
// padding of a sector the image ends inside included, so the update, verify,
// read, restore and the skipping update all ask the same object. Its two
// update steps are Write and Verify; the register paths erase first (their
// EraseSectors), the services erase as they need.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <romwright/programming_path.hpp>
#include <romwright/romwright.h>

#include "engine/core/clock.hpp"
#include "engine/core/log_sink.hpp"
#include "engine/plan/planner.hpp"

namespace romwright {

// What the flash steps work on: the current image (a picture of the flash
// from address 0), the plan (the sectors the update erases or writes, and in
// page mode the pages it programs), and the two options that shape the steps.
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

// One sector as a read found it.
struct SectorRead {
    enum class Outcome {
        whole,         // every byte came
        beyond_flash,  // the board says the sector is not in its flash
        failed,        // the read failed for another reason (the failure says which)
    };
    Outcome outcome = Outcome::failed;
    std::string failure;  // what failed, where ("" when whole)
    uint32_t bytes = 0;   // how many bytes came before the read stopped

    bool whole() const { return outcome == Outcome::whole; }
    static SectorRead ok(uint32_t bytes) { return {Outcome::whole, {}, bytes}; }
};

class FlashBackend {
public:
    virtual ~FlashBackend() = default;
    FlashBackend(const FlashBackend &) = delete;
    FlashBackend &operator=(const FlashBackend &) = delete;

    virtual ProgrammingPath path() const = 0;
    // The erase unit; the read side reads and writes whole sectors of it.
    virtual uint32_t sector_size() const = 0;
    // Bytes from address 0 that an update never erases, and a restore leaves
    // as they are (page mode's first 128 KB).
    virtual uint32_t protected_bytes() const { return 0; }

    // One sector at a time. ReadSector fills out with sector_size() bytes
    // (where a read fails, out holds none of the board's bytes: a
    // comparison with it fails). ReadSectorQuickly is the same reads with
    // fewer library calls where the path allows; the steps of romwright-cli's
    // update never use it.
    virtual SectorRead ReadSector(uint32_t sector, uint8_t *out) = 0;
    virtual SectorRead ReadSectorQuickly(uint32_t sector, uint8_t *out) { return ReadSector(sector, out); }
    // Erases the sector (where the path erases apart from writing), writes
    // bytes into it and reads it back; throws romwright::error naming the
    // first address that differs. scratch holds sector_size() bytes.
    virtual void RewriteSector(uint32_t sector, const uint8_t *bytes, uint8_t *scratch) = 0;
    // Where reads and rewrites were left by a failure, a known state again:
    // the next read does not meet what the failed one left behind.
    virtual void Recover() {}

    // The bytes [first, first + length) of the flash as the update of work
    // leaves them: the image where the update writes, the path's padding
    // elsewhere. Returns how many of them, from first, the update decides;
    // the rest (the firmware-upgrade service's padding, which the driver
    // chooses) is not to be compared.
    virtual uint32_t ExpectedBytes(const FlashWork &work, uint64_t first, uint32_t length, uint8_t *out) const = 0;

    // The update's steps.
    virtual void Write(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) = 0;
    virtual void Verify(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) = 0;

protected:
    // log is the engine's log callback and user data; progress reports go to
    // the same user data.
    FlashBackend(void *board, const LogSink &log, Clock &clock) : board_(board), log_(log), clock_(clock) {}

    void Progress(ROMWRIGHT_PROGRESS_CALLBACK progress, float fraction) const;
    // The image's bytes from offset, size of them; past the image's end they
    // read `padding`.
    const uint8_t *ImageBytes(const std::vector<uint8_t> &image, uint64_t offset, uint32_t size, uint8_t padding);
    // ExpectedBytes of a path that writes the image whole and pads it with `padding`.
    static void CopyPadded(const std::vector<uint8_t> &image, uint64_t first, uint32_t length, uint8_t padding,
                           uint8_t *out);

    void *board_;
    LogSink log_;
    Clock &clock_;

private:
    // A copy of image bytes that run past the image's end, padded; allocated
    // once, filled again for every use.
    std::vector<uint8_t> padded_;
};

// Fraction done of a step, as a front end's progress shows it.
inline float fraction(int64_t done, int64_t total) { return static_cast<float>(done) / static_cast<float>(total); }

// Bytes that erased flash reads.
inline constexpr uint8_t kErasedByte = 0xFF;

} // namespace romwright
